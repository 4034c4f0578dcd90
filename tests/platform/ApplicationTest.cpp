#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "platform/Application.h"

TEST(Application, ErrorsReachTheInstalledHandler) {
    std::string seen;
    Application::SetExceptionHandler([&](const std::exception& e) { seen = e.what(); });
    Application::HandleException(std::runtime_error("boom"));
    EXPECT_EQ(seen, "boom");
    Application::SetExceptionHandler(nullptr);
}
