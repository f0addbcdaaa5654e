#pragma once
// A critical section for the threads of one process; re-entrant for the thread that holds it.
struct PlatCriticalSection;

class KCriticalSection {
public:
    KCriticalSection();  // throws std::bad_alloc when memory runs out
    ~KCriticalSection();
    KCriticalSection(const KCriticalSection&) = delete;
    KCriticalSection& operator=(const KCriticalSection&) = delete;

    void Enter();
    void Leave();

private:
    PlatCriticalSection* m_pSection;
};

// Holds a critical section for the life of the object.
class KCriticalSectionLock {
public:
    explicit KCriticalSectionLock(KCriticalSection& section) : m_Section(section) { m_Section.Enter(); }
    ~KCriticalSectionLock() { m_Section.Leave(); }
    KCriticalSectionLock(const KCriticalSectionLock&) = delete;
    KCriticalSectionLock& operator=(const KCriticalSectionLock&) = delete;

private:
    KCriticalSection& m_Section;
};
