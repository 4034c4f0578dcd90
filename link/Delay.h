#pragma once
// The paced wait used between the beacon's question and the answer, and between the upload's characters.

namespace PacedWait {

// One unit is 0.0000115 day: 0.9936 s.
constexpr double kUnitSeconds = 0.0000115 * 86400.0;

// Waits `units` while the thread's event loop keeps dispatching; zero or less returns at once.
void Delay(double units);

}  // namespace PacedWait
