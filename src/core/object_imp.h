// The private record behind every CTKObject: its reference count and error
// status. The narrow message is a cache of the wide one rendered in one code
// page; renderings made under code pages that are no longer active are kept
// (so pointers handed out earlier stay valid) until the message changes.
#ifndef TAVIKFCU_CORE_OBJECT_IMP_H
#define TAVIKFCU_CORE_OBJECT_IMP_H

#include <cstdint>

#include "tavikfcu/TKCore.h"

class CTKObjectImp {
  public:
    CTKObjectImp() = default;
    // A record with src's code and messages and count 1.
    explicit CTKObjectImp(const CTKObjectImp& src);
    CTKObjectImp& operator=(const CTKObjectImp&) = delete;
    // Frees every message and rendering.
    virtual ~CTKObjectImp();

    // Replaces the messages by copies of text (null: empty texts).
    void SetMessage(const TKWCHAR* text);
    // The wide message rendered in the active ANSI code page, made on demand;
    // null when no message was ever set.
    const char* NarrowMessage();
    // Frees every message and rendering; both messages become null.
    void ClearMessages();

    std::int32_t m_refCount = 1;
    CTKObject::EErrorStatus m_code = CTKObject::eNoError;
    char* m_narrow = nullptr;   // m_wide in code page m_narrowCodePage
    TKWCHAR* m_wide = nullptr;  // the message itself
    unsigned int m_narrowCodePage = 0;

  private:
    // A rendering made under a code page that is no longer active.
    struct OlderRendering {
        char* text;
        unsigned int codePage;
        OlderRendering* next;
    };
    OlderRendering* m_older = nullptr;
};

#endif  // TAVIKFCU_CORE_OBJECT_IMP_H
