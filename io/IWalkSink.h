// Where the walker, the version check and the compaction report their progress. Each
// event pumps the window's messages in the dialog's sinks, advances the status line and
// the progress bar, and writes a log line when the log is switched on.
#pragma once

#include <cstdint>
#include <cstring>

// Event types.
enum : int32_t {
  kWalkError = 0,       // data: code (32-bit), then the message text
  kWalkFileBegin = 1,   // data: the file name
  kWalkFileDone = 2,    // nothing
  kWalkEnterDir = 11,   // data: the folder path
  kWalkLeaveDir = 12,   // data: the folder path
};

// The data of an error event: a code and a message text.
struct WalkErrorEvent {
  int32_t code = 0;
  const char* text = nullptr;
};

// The text of an event whose data is one text pointer (a file or folder name); "" when
// the event carries none.
inline const char* WalkEventText(const void* data, int32_t size) {
  const char* text = nullptr;
  if (data && size >= int32_t(sizeof text)) std::memcpy(&text, data, sizeof text);
  return text ? text : "";
}

// The code and text of an error event (text "" when there is none).
inline WalkErrorEvent WalkEventError(const void* data, int32_t size) {
  WalkErrorEvent e;
  if (data && size >= int32_t(sizeof e)) std::memcpy(&e, data, sizeof e);
  if (!e.text) e.text = "";
  return e;
}

class IWalkSink {
 public:
  virtual ~IWalkSink() = default;
  // One event; `data` points at `size` bytes: a 32-bit number, or a text pointer.
  virtual void OnEvent(int32_t type, const void* data, int32_t size) = 0;
  // One value, a number.
  virtual void Post(int32_t type, int32_t value) { OnEvent(type, &value, sizeof value); }
  // One value, a text (or null).
  virtual void Post(int32_t type, const char* text) { OnEvent(type, &text, sizeof text); }
  // Two values: a code and a text, laid out in that order.
  virtual void Post(int32_t type, int32_t code, const char* text) {
    WalkErrorEvent e{code, text};
    OnEvent(type, &e, sizeof e);
  }
  // Whether the walk is to stop.
  virtual bool IsAborted() { return false; }
};
