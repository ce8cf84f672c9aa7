// A connected session: resolves its host text, asks for missing login data,
// creates the connection and the terminal emulator, and pumps the host's
// output onto its screen while the main thread feeds it input events.
#pragma once

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "app/simple_session.h"
#include "config/host_config.h"
#include "net/connection.h"
#include "net/outgoing_queue.h"
#include "platform/sync.h"
#include "platform/thread.h"
#include "ssh/auth/auth_prompter.h"
#include "term/emulator.h"

struct HostKey;
struct PacketContext;

// The user names offered at the login prompt; the names entered there are
// added to it.
extern TStringHistory UserHistory;

// Values of TSession's state.
constexpr int kSessionNormal = 1;
constexpr int kSessionError = 2;     // the error report is shown
constexpr int kSessionQuestion = 3;  // the close question is shown

// Threads: Run is the session thread; HandleInput, CopySelection and
// PasteClipboard run on the main thread; WriteOutgoing is the writer thread,
// started by Run once the connection has logged in.
//
// The main thread never writes to the connection and never takes a lock a
// socket writer holds: typed keys, pastes and size reports go into the
// session's outgoing queue, and the writer sends them. A full queue refuses
// the input (a beep and a status text) instead of waiting. Keys typed while
// the connection is being made are kept (up to kMaxPendingKeys) and queued
// by Run right after the login, ahead of any typed later.
class TSession : public TSimpleSession, public Ssh2AuthPrompter {
  public:
    static constexpr std::size_t kMaxPendingKeys = 1024;
    // Bytes asked of the connection per read.
    static constexpr unsigned kReadBlock = 32768;
    // Bytes drawn per hold of the output lock into a screen that is not shown.
    static constexpr int kHiddenDrawSlice = 2048;
    // A session whose screen is not shown pauses this long after every
    // kHiddenPaceBytes it reads (see Pump): at most 2 MB a second.
    static constexpr int kHiddenPaceBytes = 4096;
    static constexpr int kHiddenPauseMs = 2;
    // The status text of refused input.
    static constexpr const char* kQueueFullText = "Send queue full: input refused";

    TSession(const std::string& hostText, int screen);
    ~TSession() override;

    int Run() override;
    bool HandleInput(INPUT_RECORD& record) override;
    std::string GetName() override;
    void ScreenResized() override;
    // "host protocol cipher state", e.g. "box ssh2 aes128-ctr connected".
    std::string GetStatus() override;

    // Shows "Exception: ..." on the screen and waits for ENTER. Only the
    // first report counts; later ones (the same failure seen by another
    // thread) are dropped. Any thread.
    void ReportException(const std::string& message);
    void SetState(int state) { State.store(state, std::memory_order_release); }
    int GetState() const { return State.load(std::memory_order_acquire); }
    // The selection to the clipboard; the clipboard to the host. Main thread.
    void CopySelection();
    void PasteClipboard();

    // After the login, until the session ends.
    bool IsStarted() const { return Started.load(std::memory_order_acquire); }
    const THostConfig& GetHost() const { return Host; }

    // The SSH-2 login's prompts, on this session's screen (session thread).
    void Show(const std::string& text) override;
    bool Ask(const std::string& prompt, bool echo, bool may_cancel, std::string* answer) override;

  protected:
    // The steps of Run.
    void ResolveHost();
    void AskLoginData();
    void CreateConnection();
    // Wipes the session's and the connection's copies of the password once
    // the login is done.
    void ForgetPassword();
    // The host-key check of an SSH login (session_host_key.cpp): the hook the
    // connection calls once the server's key is known, and the yes/no
    // question for an unknown key. Session thread.
    static void HostKeyHook(PacketContext* context, const HostKey* key);
    void CheckHostKey(const HostKey& key);
    bool AskHostKey(const std::string& name, const HostKey& key, const std::string& fingerprint,
                    const std::string& file);
    void Pump();
    void Draw(const char* data, int count, bool shown);
    void AppendToLog(const char* data, int count);
    // Translates a key and queues it. Main thread, or Run for the keys typed
    // during start-up.
    void SendKey(const INPUT_RECORD& record);
    // Queues bytes for the host whole, or refuses them whole with a beep and
    // the status text kQueueFullText; true when queued.
    bool Send(const char* data, std::size_t length);
    // The writer thread: sends what the queue holds until the session ends.
    void WriteOutgoing();
    // Ends the session after a send failed on the writer thread: the pump is
    // paused for good and the report shown; ENTER then ends it.
    void FailFromWriter(const std::string& message);
    // Stops the writer and waits for it; after the session thread has ended.
    void StopWriter();
    void MouseInput(const MOUSE_EVENT_RECORD& mouse);
    void AskClose();
    void AnswerClose(const INPUT_RECORD& record);
    // Queues the keys typed while the session was starting; Run, after the
    // login.
    void FlushPendingKeys();

    THostConfig Host;
    std::unique_ptr<TConnection> Connection;
    std::unique_ptr<TEmulator> Emulator;
    ScreenRecord SavedScreen;  // main thread
    TOutgoingQueue Outgoing;
    TThread Writer;
    // The status text shown by a refused input is ours to clear. Main thread.
    bool ShowsQueueFull = false;
    // The pump's pause switch: the pump takes it before drawing a block and
    // gives it back afterwards; the close question takes it and keeps it
    // while shown. Auto-reset, so that waiting and taking are one step.
    TEvent OutputEnabled{false, true};
    bool Selecting = false;  // main thread
    std::int16_t AnchorX = 0;
    std::int16_t AnchorY = 0;
    std::atomic<int> State{kSessionNormal};

    // The host text: the name in the title.
    const std::string HostText;
    // The host's KEEP_SELECTION, readable before the host is resolved.
    std::atomic<bool> KeepSelection{false};
    // Guards the keys typed during start-up.
    std::mutex StartLock;
    std::deque<INPUT_RECORD> PendingKeys;
    std::atomic<bool> Started{false};
    // A send has failed and been reported.
    std::atomic<bool> Failed{false};
    // The password was typed at the login prompt (session thread).
    bool PasswordPrompted = false;
    // The screen changed size before the login: Run reports it after.
    std::atomic<bool> ResizedEarly{false};
    // How far Run has come, for the status line.
    enum class TPhase { Connecting, LoggingIn, Connected };
    std::atomic<TPhase> Phase{TPhase::Connecting};
    std::atomic<int> Protocol{-1};  // the host's, once resolved
    void SetPhase(TPhase phase);
    std::mutex StatusLock;
    std::string CipherName;  // under StatusLock; set once logged in
    // Queues the screen's size for the host (the writer reports it).
    void ReportScreenSize();
};
