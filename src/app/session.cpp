#include "app/session.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <thread>
#include <vector>

#include <openssl/crypto.h>

#include "app/connection_factory.h"
#include "app/screen_guard.h"
#include "app/switcher.h"
#include "base/exception.h"
#include "base/secret_string.h"
#include "config/telnet_config.h"
#include "net/telnet_connection.h"
#include "platform/beep.h"
#include "ssh/connection/ssh_connection.h"
#include "ssh/wire/xmalloc.h"
#include "term/termcap_emulator.h"

TStringHistory UserHistory;

namespace {

bool IsSsh(int protocol) {
    return protocol == kProtocolSsh || protocol == kProtocolSsh2;
}

}  // namespace

TSession::TSession(const std::string& hostText, int screen)
    : TSimpleSession(screen), HostText(hostText) {
    Host.SetName(hostText);
}

TSession::~TSession() {
    // Both threads use the connection, the emulator and the host: end them
    // first. The session thread first, as it is the one that starts the
    // writer.
    StopThread();
    StopWriter();
}

void TSession::StopWriter() {
    Outgoing.Close();
    if (!Writer.Started()) return;
    Writer.Cancel();
    Writer.Join();
}

std::string TSession::GetName() {
    return HostText;
}

// ---------------------------------------------------------------------------
// The session thread

int TSession::Run() {
    try {
        ResolveHost();
        AskLoginData();
        CreateConnection();
        SetPhase(TPhase::LoggingIn);
        Connection->Login();
        ForgetPassword();
        {
            std::lock_guard guard(StatusLock);
            CipherName = Connection->GetCipherName();
        }
        Writer.Start([this] { WriteOutgoing(); });
        FlushPendingKeys();
        SetPhase(TPhase::Connected);
        Pump();
    } catch (const TException& e) {
        ReportException(e.Message());
    } catch (const std::exception& e) {
        // Not raised by this program's own code (memory exhaustion and the
        // like): reported the same way rather than ending the process.
        ReportException(e.what());
    }
    if (GetState() == kSessionError) {
        // Only ENTER (Terminate, from the main thread) ends the session now.
        TEvent never(true, false);
        never.Wait();
    }
    return 0;
}

void TSession::ResolveHost() {
    Host = Config.ResolveHost(HostText);
    KeepSelection.store(Host.GetKeepSelection(), std::memory_order_release);
    Protocol.store(Host.GetProtocol(), std::memory_order_release);
    ::UpdateStatus();
    TLockGuard session(SessionLock);
    TScreenGuard guard;
    Console->SetHostConfig(ScreenIndex, &Host);
    const int kept = Console->GetScreen(ScreenIndex).ScrollSize;
    if (kept < Host.GetMaxScrollSize() && Console->GetScreen(ScreenIndex).Width > 0) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "Scroll-back: MAX_SCROLL_SIZE=%d does not fit in memory; %d lines kept.\r\n",
                      Host.GetMaxScrollSize(), kept);
        Console->WriteText(ScreenIndex, text);
        Console->Refresh();
    }
}

void TSession::AskLoginData() {
    if (!IsSsh(Host.GetProtocol())) return;
    if (Host.GetUser().empty()) {
        BeginPrompt(true, &UserHistory, "Login on %s as user: ", Host.GetAddress().c_str());
        const std::string user = ReadLine();
        UserHistory.Add(user);
        Host.SetUser(user);
    }
    if (Host.GetAuthType() == kAuthPassword && Host.GetPassword().empty()) {
        BeginPrompt(false, nullptr, "%s@%s's password: ", Host.GetUser().c_str(),
                    Host.GetAddress().c_str());
        std::string password = ReadLine();
        Host.SetPassword(password);
        WipeString(password);
        WipeString(Line);  // the prompt's own copy
        PasswordPrompted = true;
    }
}

void TSession::CreateConnection() {
    Connection = ::CreateConnection(Host, ScreenIndex);
    if (auto* ssh = dynamic_cast<TSSHConnection*>(Connection.get())) {
        ssh->GetContext()->host_key_hook = HostKeyHook;
        ssh->GetContext()->host_key_hook_data = this;
        ssh->SetAuthPrompter(this, PasswordPrompted);
    }
    Emulator = std::make_unique<TTermcapEmulator>(&Host, ScreenIndex);
}

void TSession::ForgetPassword() {
    Host.WipePassword();
    if (auto* ssh = dynamic_cast<TSSHConnection*>(Connection.get())) {
        PacketContext* context = ssh->GetContext();
        if (context->password != nullptr) {
            OPENSSL_cleanse(context->password, std::strlen(context->password));
            xfree(context->password);
            context->password = nullptr;
        }
    }
}

void TSession::FlushPendingKeys() {
    std::deque<INPUT_RECORD> keys;
    std::lock_guard guard(StartLock);
    keys.swap(PendingKeys);
    // Queued before Started is seen, so keys typed from now on come after
    // these, and so does a size change.
    if (ResizedEarly.exchange(false)) ReportScreenSize();
    for (const INPUT_RECORD& key : keys) SendKey(key);
    Started.store(true, std::memory_order_release);
}

void TSession::SetPhase(TPhase phase) {
    Phase.store(phase, std::memory_order_release);
    ::UpdateStatus();
}

void TSession::ReportScreenSize() {
    COORD size{};
    {
        TScreenGuard guard;
        const ScreenRecord& s = Console->GetScreen(ScreenIndex);
        size = COORD{static_cast<std::int16_t>(s.Width), static_cast<std::int16_t>(s.Height)};
    }
    if (size.X > 0 && size.Y > 0) Outgoing.RequestSize(size);
}

void TSession::ScreenResized() {
    {
        std::lock_guard guard(StartLock);
        if (!IsStarted()) {
            // FlushPendingKeys queues it with the keys typed meanwhile.
            ResizedEarly.store(true);
            return;
        }
    }
    if (GetState() == kSessionError) return;
    ReportScreenSize();
}

std::string TSession::GetStatus() {
    static const char* const kProtocols[] = {"telnet", "ssh", "file", "ssh2", "serial"};
    const int protocol = Protocol.load(std::memory_order_acquire);
    std::string cipher;
    {
        std::lock_guard guard(StatusLock);
        cipher = CipherName;
    }
    if (cipher.empty()) cipher = protocol == kProtocolTelnet ? "telnet" : "-";
    if (protocol < 0) return HostText + "  connecting";
    const char* state = "connecting";
    if (GetState() == kSessionError) {
        state = "closed with error";
    } else if (Phase.load(std::memory_order_acquire) == TPhase::Connected) {
        state = "connected";
    } else if (Phase.load(std::memory_order_acquire) == TPhase::LoggingIn) {
        state = "logging in";
    }
    const char* name = protocol <= kProtocolSerial ? kProtocols[protocol] : "?";
    return HostText + "  " + name + "  " + cipher + "  " + state;
}

void TSession::Pump() {
    std::vector<char> block(kReadBlock);
    int hidden = 0;  // bytes read since the last pause while not shown
    for (;;) {
        const int count = Connection->GetBuffer(block.data(), kReadBlock, false);
        if (Connection->GetState() != kStateOpen) return;
        if (count <= 0) continue;  // telnet commands only
        if (Host.GetLogMode() == kLogFull) AppendToLog(block.data(), count);
        OutputEnabled.Wait();
        const bool shown = Console->GetActiveScreen() == ScreenIndex;
        Draw(block.data(), count, shown);
        OutputEnabled.Set();
        // The shown session's echo wakes threads that must find a free
        // core; a hidden session reading a flood as fast as it comes keeps
        // both its own core and the server's busy. Short pauses leave the
        // shown session room; the peer's flow control holds the rest, and
        // nothing is lost, the hidden screen only fills later.
        hidden = shown ? 0 : hidden + count;
        if (hidden >= kHiddenPaceBytes) {
            hidden = 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(kHiddenPauseMs));
        }
    }
}

void TSession::Draw(const char* data, int count, bool shown) {
    // A screen that is not shown costs no terminal output, only time under
    // the output lock, and a flood of short lines scrolls the whole screen
    // once per line: a block can hold the lock for milliseconds. Drawn in
    // slices, a key typed into the shown session, or a switch to another
    // screen, waits for one slice at most. The shown screen is drawn whole,
    // so that the terminal is painted once per block.
    const int slice = shown ? count : kHiddenDrawSlice;
    for (int done = 0; done < count; done += slice) {
        TLockGuard session(SessionLock);
        TScreenGuard guard;
        Emulator->Write(data + done, std::min(slice, count - done));
    }
}

void TSession::AppendToLog(const char* data, int count) {
    std::FILE* file = std::fopen(Host.GetLogFile().c_str(), "ab");
    if (file == nullptr) return;
    (void)std::fwrite(data, 1, static_cast<std::size_t>(count), file);
    std::fclose(file);
}

void TSession::ReportException(const std::string& message) {
    if (State.exchange(kSessionError, std::memory_order_acq_rel) == kSessionError) return;
    ::UpdateStatus();
    char text[1024];
    std::snprintf(text, sizeof text, "\n\rException: %s\n\rPress Enter to close...",
                  message.c_str());
    TLockGuard session(SessionLock);
    TScreenGuard guard;
    Console->ResetAttributes(ScreenIndex);
    Console->WriteText(ScreenIndex, text);
    Console->Refresh();
}

// ---------------------------------------------------------------------------
// Input (main thread)

bool TSession::HandleInput(INPUT_RECORD& record) {
    if (TSimpleSession::HandleInput(record)) return true;
    const int state = GetState();
    const bool keyDown = record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown;
    if (state == kSessionQuestion) {
        AnswerClose(record);
        return true;
    }
    if (state == kSessionError) {
        if (keyDown && record.Event.KeyEvent.wVirtualKeyCode == VK_RETURN) Terminate();
        return true;
    }
    if (record.EventType == MOUSE_EVENT) {
        MouseInput(record.Event.MouseEvent);
        return true;
    }
    if (!keyDown) return false;

    const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
    const bool alt = (key.dwControlKeyState & ALT_PRESSED) != 0;
    const bool ctrl = (key.dwControlKeyState & CTRL_PRESSED) != 0;
    const bool shift = (key.dwControlKeyState & SHIFT_PRESSED) != 0;
    switch (key.wVirtualKeyCode) {
        case 'X':
            if (!alt) break;
            AskClose();
            return true;
        case 'Q':
            if (!alt) break;
            if (IsStarted() && IsSsh(Host.GetProtocol())) Outgoing.RequestSize(COORD{80, 10});
            return true;
        case VK_INSERT:
            if (ctrl) {
                CopySelection();
                return true;
            }
            if (shift) {
                PasteClipboard();
                return true;
            }
            break;
        case VK_SHIFT:
        case VK_CONTROL:
        case VK_MENU:
        case VK_CAPITAL:
        case VK_NUMLOCK:
        case VK_SCROLL:
            return false;
        default:
            break;
    }

    {
        std::lock_guard guard(StartLock);
        if (!IsStarted()) {
            // Still connecting: Run sends it after the login.
            if (PendingKeys.size() < kMaxPendingKeys) PendingKeys.push_back(record);
            return false;
        }
    }
    SendKey(record);
    return false;
}

void TSession::SendKey(const INPUT_RECORD& record) {
    if (!Emulator || !Connection) return;
    Emulator->KeyPressed(record);
    std::string bytes;
    char chunk[1024];
    for (int n; (n = Emulator->GetOutput(chunk, sizeof chunk)) > 0;) bytes.append(chunk, n);
    if (Host.GetProtocol() == kProtocolTelnet && bytes == "\r") {
        // ENTER is CR LF in the telnet's network virtual terminal; in binary
        // mode the server passes both bytes on, and its terminal would see
        // two line ends, so a lone CR goes out then.
        const auto* telnet = dynamic_cast<const TTelnetConnection*>(Connection.get());
        if (telnet == nullptr || !telnet->SendsBinary()) bytes.push_back('\n');
    }
    if (!bytes.empty()) Send(bytes.data(), bytes.size());
}

bool TSession::Send(const char* data, std::size_t length) {
    if (Outgoing.Append(data, length)) {
        if (ShowsQueueFull && !IsOwnThread()) {
            ShowsQueueFull = false;
            TScreenGuard guard;
            Console->SetStatusText("");
            Console->Refresh();
        }
        return true;
    }
    MessageBeep(-1);
    if (!IsOwnThread()) {
        ShowsQueueFull = true;
        TScreenGuard guard;
        Console->SetStatusText(kQueueFullText);
        Console->Refresh();
    }
    return false;
}

// ---------------------------------------------------------------------------
// The writer thread

void TSession::WriteOutgoing() {
    TOutgoingQueue::TItem item;
    try {
        while (Outgoing.Take(item)) {
            if (item.IsSize) {
                Connection->ReportWindowSize(&item.Size);
            } else {
                Connection->PutBuffer(item.Bytes.data(), static_cast<unsigned>(item.Bytes.size()),
                                      false);
            }
        }
    } catch (const TException& e) {
        FailFromWriter(e.Message());
    } catch (const std::exception& e) {
        FailFromWriter(e.what());
    }
}

void TSession::FailFromWriter(const std::string& message) {
    if (Failed.exchange(true)) return;
    // Nothing more can be sent once a send has failed part way.
    Outgoing.Close();
    // Taken for good: the pump draws nothing over the report. The pump may
    // wait meanwhile for a scroll-back viewer to close; this thread waits
    // with it, the main thread does not.
    if (GetState() != kSessionQuestion) OutputEnabled.Wait();
    ReportException(message);
}

void TSession::AskClose() {
    OutputEnabled.Wait();  // the pump pauses after the block it is drawing
    int expected = kSessionNormal;
    if (!State.compare_exchange_strong(expected, kSessionQuestion)) {
        OutputEnabled.Set();  // an error report came first
        return;
    }
    TScreenGuard guard;
    Console->SaveScreen(ScreenIndex, SavedScreen);
    Console->ResetAttributes(ScreenIndex);
    Console->WriteText(ScreenIndex, "\r\nAre you sure you want to close the connection? Y/N");
    Console->Refresh();
}

void TSession::AnswerClose(const INPUT_RECORD& record) {
    if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) return;
    const std::uint16_t code = record.Event.KeyEvent.wVirtualKeyCode;
    if (code == 'Y') {
        {
            TScreenGuard guard;
            Console->RestoreScreen(ScreenIndex, SavedScreen);
        }
        Terminate();
    } else if (code == 'N') {
        int expected = kSessionQuestion;
        if (!State.compare_exchange_strong(expected, kSessionNormal)) return;
        {
            TScreenGuard guard;
            Console->RestoreScreen(ScreenIndex, SavedScreen);
        }
        OutputEnabled.Set();
    }
}
