// VarnockObject: the common base of the builder's owned objects. Its only
// job is the virtual destructor, so containers of base pointers
// (ExtPtrArray) can destroy what they hold.
#pragma once

class VarnockObject {
public:
    VarnockObject() = default;
    VarnockObject(const VarnockObject&) = delete;
    VarnockObject& operator=(const VarnockObject&) = delete;
    virtual ~VarnockObject();
};
