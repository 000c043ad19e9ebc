// Where the JSON writer's text goes. The writer fills a window of units
// [pos, end) that the destination hands it; when a write needs more room
// than is left, the destination makes room: a string grows its body (the
// text is written once, in place), a file converts what the window holds to
// its code page and writes it out (memory stays bounded).
#ifndef TAVIKFCU_JSON_JSON_TEXT_OUT_H
#define TAVIKFCU_JSON_JSON_TEXT_OUT_H

#include <cstddef>

#include "tavikfcu/TKJson.h"
#include "tavikfcu/TKString.h"

namespace tk::detail {

class JsonTextOut {
  public:
    // The most units one request for room may ask for; longer texts are
    // written in steps, so a destination with a fixed window (a file) needs
    // no more than this.
    static constexpr std::size_t kMaxRoom = 4096;

    // Room for n <= kMaxRoom units at the returned pointer (pos); the
    // writer advances pos past what it used.
    TKWCHAR* Room(std::size_t n) {
        if (static_cast<std::size_t>(m_end - pos) < n) MakeRoom(n);
        return pos;
    }

    TKWCHAR* pos = nullptr;

  protected:
    JsonTextOut() = default;
    ~JsonTextOut() = default;
    JsonTextOut(const JsonTextOut&) = delete;
    JsonTextOut& operator=(const JsonTextOut&) = delete;

    // Afterwards [pos, m_end) holds at least n units; what was written
    // before pos is kept (in the string) or passed on (to the file).
    virtual void MakeRoom(std::size_t n) = 0;

    TKWCHAR* m_end = nullptr;
};

// The writer, into any destination: an object's text, or a value's (as
// CMyJsonValue::CreateJson has it).
void WriteObjectTo(const CMyJsonObj& obj, bool formatted, JsonTextOut& out);
void WriteValueTo(const CMyJsonValue& value, bool formatted, JsonTextOut& out);

}  // namespace tk::detail

#endif  // TAVIKFCU_JSON_JSON_TEXT_OUT_H
