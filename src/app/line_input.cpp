#include "app/line_input.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "base/string_history.h"
#include "console/console.h"
#include "platform/beep.h"
#include "platform/input_record.h"

bool LineInput(TConsole& console, int screen, char* buffer, int maxLength,
               const TStringHistory* history, bool echo) {
    maxLength = std::max(maxLength, 0);
    const int start_x = console.GetCursorX(screen);
    const int start_y = console.GetCursorY(screen);
    TStringHistory copy;
    if (history != nullptr) copy = *history;
    copy.Add("");
    std::string line;
    buffer[0] = '\0';

    auto redraw = [&] {
        if (!echo) return;
        console.BeginUpdate(screen);
        console.SetCursor(screen, start_x, start_y);
        console.ClearToEndOfLine(screen);
        console.WriteText(screen, line.c_str());
        console.EndUpdate(screen);
    };

    for (;;) {
        INPUT_RECORD record;
        console.ReadEvent(record);
        if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) continue;
        switch (record.Event.KeyEvent.wVirtualKeyCode) {
            case VK_BACK:
                if (line.empty()) break;
                line.pop_back();
                if (echo) {
                    console.BeginUpdate(screen);
                    console.MoveCursor(screen, -1, 0);
                    console.PutChar(screen, ' ');
                    console.MoveCursor(screen, -1, 0);
                    console.EndUpdate(screen);
                }
                break;
            case VK_RETURN:
                if (line.empty()) {
                    MessageBeep(-1);
                    break;
                }
                std::memcpy(buffer, line.data(), line.size());
                buffer[line.size()] = '\0';
                return true;
            case VK_ESCAPE:
                return false;
            case VK_SHIFT:
            case VK_CONTROL:
            case VK_MENU:
            case VK_CAPITAL:
                break;
            case VK_UP:
            case VK_DOWN:
                if (history == nullptr) {
                    MessageBeep(-1);
                    break;
                }
                if (record.Event.KeyEvent.wVirtualKeyCode == VK_UP)
                    copy.Older();
                else
                    copy.Newer();
                line = copy.Current().substr(0, static_cast<std::size_t>(maxLength));
                redraw();
                break;
            default: {
                const unsigned char c = KeyChar(record);
                if (static_cast<int>(line.size()) < maxLength && c >= 0x20 && c < 0x7F) {
                    line.push_back(static_cast<char>(c));
                    if (echo) {
                        console.BeginUpdate(screen);
                        console.PutChar(screen, c);
                        console.EndUpdate(screen);
                    }
                } else {
                    MessageBeep(-1);
                }
            }
        }
    }
}
