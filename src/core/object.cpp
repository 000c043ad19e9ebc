// CTKObjClass and CTKObject: runtime class records, reference counting and
// the error status kept in the private CTKObjectImp record.
#include <cstring>

#include "core/class_records.h"
#include "memory/heap.h"
#include "core/object_imp.h"
#include "text/codepage.h"
#include "text/wide_crt.h"

namespace {

// Heap copy of a narrow name up to its NUL; null stays null.
char* CopyName(const char* name) {
    return name ? tk::detail::HeapCopy(name, std::strlen(name)) : nullptr;
}

// text rendered in codePage as heap text, terminator included. A text the
// code page cannot take at all renders as "".
char* RenderNarrow(const TKWCHAR* text, unsigned int codePage) {
    int bytes = tk::platform::WideCharToMultiByte(codePage, 0, text, -1, nullptr, 0);
    if (bytes < 1) return tk::detail::HeapCopy("", 0);
    char* out = static_cast<char*>(tk::detail::HeapAlloc(static_cast<std::size_t>(bytes)));
    if (tk::platform::WideCharToMultiByte(codePage, 0, text, -1, out, bytes) < 1) out[0] = 0;
    return out;
}

}  // namespace

// ---- CTKObjClass ----------------------------------------------------------------

CTKObjClass::CTKObjClass(const char* name, CTKObjClass* base)
    : m_name(CopyName(name)), m_base(base) {}

CTKObjClass::CTKObjClass(const CTKObjClass& src)
    : m_name(CopyName(src.m_name)), m_base(src.m_base) {}

CTKObjClass& CTKObjClass::operator=(const CTKObjClass& src) {
    if (this != &src) {
        char* name = CopyName(src.m_name);  // before freeing: may throw
        tk::detail::HeapFree(m_name);
        m_name = name;
        m_base = src.m_base;
    }
    return *this;
}

CTKObjClass::~CTKObjClass() {
    if (!tk::detail::IsLibraryClassRecord(this)) tk::detail::HeapFree(m_name);
}

// ---- CTKObjectImp ---------------------------------------------------------------

CTKObjectImp::CTKObjectImp(const CTKObjectImp& src) : m_code(src.m_code) {
    if (!src.m_wide) return;
    m_wide = tk::detail::HeapCopy(src.m_wide, tk::platform::lstrlenW(src.m_wide));
    if (src.m_narrow) {
        try {
            m_narrow = tk::detail::HeapCopy(src.m_narrow, std::strlen(src.m_narrow));
        } catch (...) {
            ClearMessages();
            throw;
        }
        m_narrowCodePage = src.m_narrowCodePage;
    }
}

CTKObjectImp::~CTKObjectImp() {
    ClearMessages();
}

void CTKObjectImp::ClearMessages() {
    tk::detail::HeapFree(m_narrow);
    tk::detail::HeapFree(m_wide);
    m_narrow = nullptr;
    m_wide = nullptr;
    while (m_older) {
        OlderRendering* next = m_older->next;
        tk::detail::HeapFree(m_older->text);
        delete m_older;
        m_older = next;
    }
}

void CTKObjectImp::SetMessage(const TKWCHAR* text) {
    // Copy before freeing: text may be this record's own message. When memory
    // runs out the messages not yet made stay null.
    TKWCHAR* wide;
    try {
        wide = text ? tk::detail::HeapCopy(text, tk::platform::lstrlenW(text))
                    : tk::detail::HeapCopy(TKL(""), 0);
    } catch (...) {
        ClearMessages();
        throw;
    }
    ClearMessages();
    m_wide = wide;
    unsigned int codePage = tk::platform::GetAnsiCodePage();
    m_narrow = RenderNarrow(wide, codePage);
    m_narrowCodePage = codePage;
}

const char* CTKObjectImp::NarrowMessage() {
    if (!m_wide) return nullptr;
    // Read once: another thread may switch the code page meanwhile.
    unsigned int codePage = tk::platform::GetAnsiCodePage();
    if (m_narrow && m_narrowCodePage == codePage) return m_narrow;

    // Reuse a rendering kept from an earlier switch to this code page.
    OlderRendering** link = &m_older;
    while (*link && (*link)->codePage != codePage) link = &(*link)->next;
    OlderRendering* reuse = *link;
    if (reuse) *link = reuse->next;
    char* text = reuse ? reuse->text : RenderNarrow(m_wide, codePage);

    if (m_narrow) {
        // Keep the current rendering alive: callers may still hold it.
        OlderRendering* keep = reuse;
        try {
            if (!keep) keep = new OlderRendering;
        } catch (...) {
            tk::detail::HeapFree(text);
            throw;
        }
        *keep = OlderRendering{m_narrow, m_narrowCodePage, m_older};
        m_older = keep;
    } else {
        delete reuse;
    }
    m_narrow = text;
    m_narrowCodePage = codePage;
    return m_narrow;
}

// ---- CTKObject ------------------------------------------------------------------

static_assert(sizeof(CTKObject) == 2 * sizeof(void*), "CTKObject: table pointer + record");
static_assert(sizeof(CTKObject::EErrorStatus) == 4, "error codes are 32-bit");

CTKObject::CTKObject() : m_pImp(new CTKObjectImp) {}

CTKObject::CTKObject(const CTKObject& src) : m_pImp(new CTKObjectImp(*src.m_pImp)) {}

CTKObject& CTKObject::operator=(const CTKObject& src) {
    if (this != &src) {
        CTKObjectImp* copy = new CTKObjectImp(*src.m_pImp);
        copy->m_refCount = m_pImp->m_refCount;  // owners of this object, not of src
        delete m_pImp;
        m_pImp = copy;
    }
    return *this;
}

CTKObject::~CTKObject() {
    delete m_pImp;
}

CTKObjClass* CTKObject::GetThisClass() const {
    return &m_class;
}

int CTKObject::AddRef() {
    return ++m_pImp->m_refCount;
}

int CTKObject::Release() {
    int left = --m_pImp->m_refCount;
    if (left < 1) delete this;
    return left;
}

void CTKObject::SetError(EErrorStatus code, const TKWCHAR* text) const {
    m_pImp->m_code = code;
    m_pImp->SetMessage(text);
}

void CTKObject::SetErrorCode(EErrorStatus code) const {
    m_pImp->m_code = code;
}

CTKObject::EErrorStatus CTKObject::GetErrorCode() const {
    return m_pImp->m_code;
}

void CTKObject::SetErrorMsg(const TKWCHAR* text) const {
    m_pImp->SetMessage(text);
}

const TKWCHAR* CTKObject::GetErrorMsg() const {
    return m_pImp->m_wide;
}

const TKWCHAR* CTKObject::GetErrorMsgW() const {
    return m_pImp->m_wide;
}

const char* CTKObject::GetErrorMsgA() const {
    return m_pImp->NarrowMessage();
}
