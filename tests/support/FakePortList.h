#pragma once
// A list of serial devices of the test's choosing in place of the system's, and a folder of stable
// device names of its own; both are put back when the object goes.

#include <QList>
#include <QTemporaryDir>
#include <string>

#include "link/PortList.h"
#include "platform/serial/PortMap.h"

class FakePortList : public IPortList {
public:
    FakePortList() : defaultFolder_(Serial::StableNameFolder()) {
        SetPortList(this);
        Serial::SetStableNameFolder(StableNames.path().toStdString());
    }
    ~FakePortList() override {
        SetPortList(nullptr);
        Serial::SetStableNameFolder(defaultFolder_);
    }
    FakePortList(const FakePortList&) = delete;
    FakePortList& operator=(const FakePortList&) = delete;

    QList<TSerialDevice> Devices() const override { return List; }

    // A path in the folder of stable names.
    std::string StableName(const QString& name) const { return StableNames.filePath(name).toStdString(); }

    QList<TSerialDevice> List;
    QTemporaryDir StableNames;

private:
    std::string defaultFolder_;
};
