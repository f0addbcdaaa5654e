#pragma once
// The per-axis layout record of a UI object, and the interface through which layout boxes read and write it.
#include <cstdint>

class KILayoutObject {
public:
    // Starts a layout pass: working offset 0, no size assigned, working stretch = stretch.
    virtual void Reset() = 0;
    // When fixed, stores the size; answers fixed.
    virtual bool GetFixedSize(int32_t& size) = 0;
    virtual bool IsSizeAssigned() = 0;
    // size = value, size assigned.
    virtual void AssignSize(int32_t size) = 0;
    virtual int32_t GetStretch() = 0;
    virtual void SetStretch(int32_t value) = 0;
    virtual int32_t GetWorkingStretch() = 0;
    virtual void SetWorkingStretch(int32_t value) = 0;
    virtual int32_t GetMinimumSize() = 0;
    virtual int32_t GetSize() = 0;
    virtual void SetWorkingOffset(int32_t value) = 0;
    virtual int32_t GetWorkingOffset() = 0;
    virtual bool HasCap() = 0;
    virtual int32_t GetCap() = 0;
    // cap = value, has cap.
    virtual void SetCap(int32_t value) = 0;
    virtual ~KILayoutObject() = default;
};

class KLayoutObject : public KILayoutObject {
public:
    KLayoutObject() = default;

    void Reset() override
    {
        m_WorkingOffset = 0;
        m_SizeAssigned = false;
        m_WorkingStretch = m_Stretch;
    }
    bool GetFixedSize(int32_t& size) override
    {
        if (m_Fixed)
            size = m_Size;
        return m_Fixed;
    }
    bool IsSizeAssigned() override { return m_SizeAssigned; }
    void AssignSize(int32_t size) override
    {
        m_Size = size;
        m_SizeAssigned = true;
    }
    int32_t GetStretch() override { return m_Stretch; }
    void SetStretch(int32_t value) override { m_Stretch = value; }
    int32_t GetWorkingStretch() override { return m_WorkingStretch; }
    void SetWorkingStretch(int32_t value) override { m_WorkingStretch = value; }
    int32_t GetMinimumSize() override { return m_MinimumSize; }
    int32_t GetSize() override { return m_Size; }
    void SetWorkingOffset(int32_t value) override { m_WorkingOffset = value; }
    int32_t GetWorkingOffset() override { return m_WorkingOffset; }
    bool HasCap() override { return m_HasCap; }
    int32_t GetCap() override { return m_Cap; }
    void SetCap(int32_t value) override
    {
        m_Cap = value;
        m_HasCap = true;
    }

    // Set by the owning object from its script keys (not part of the interface the boxes use).
    bool IsFixed() const { return m_Fixed; }
    void SetFixed(bool fixed) { m_Fixed = fixed; }
    void SetMinimumSize(int32_t value) { m_MinimumSize = value; }
    void SetSize(int32_t value) { m_Size = value; }

private:
    bool m_Fixed = true;
    int32_t m_MinimumSize = 5;
    bool m_HasCap = false;
    int32_t m_Cap = 0;
    int32_t m_Stretch = 0;
    int32_t m_WorkingStretch = 0;
    bool m_SizeAssigned = false;
    int32_t m_Size = 5;
    int32_t m_WorkingOffset = 0;
};
