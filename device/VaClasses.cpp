#include "device/VaClasses.h"

void TVaPersistent::BeginUpdate() {
    ++updateCount_;
}

void TVaPersistent::EndUpdate() {
    if (updateCount_ > 0) --updateCount_;
    Changed();
}

void TVaPersistent::Changed() {
    if (updateCount_ == 0 && OnChange) OnChange(this);
}

void TVaPersistent::Assign(const TVaPersistent& Source) {
    throw EConvertError("Cannot assign a " + Source.ClassName() + " to a " + ClassName());
}
