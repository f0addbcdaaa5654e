#pragma once
// Base of the objects that have an operating-system side (application, windows, pixmaps): numbered
// attributes that the OS layer answers.
class KIOsObject {
public:
    virtual ~KIOsObject() = default;
    // The attribute's address or value, null when there is none.
    virtual void* GetAttribute(int id) = 0;
    // True when the attribute was taken.
    virtual bool SetAttribute(int id, const void* value) = 0;
};
