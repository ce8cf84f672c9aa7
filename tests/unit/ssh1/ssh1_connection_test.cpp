// TSSH1Connection over a real loopback socket against the scripted server,
// which runs in a thread of its own: identification, login, pseudo-terminal,
// data both ways, window size, exit status, and sends from two threads.
#include "ssh/connection/ssh1_connection.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "../net/fake_peer.h"
#include "config/host_config.h"
#include "console/headless_console.h"
#include "rsa1_key_file.h"
#include "ssh1_scripted_server.h"

namespace {

constexpr int kTimeoutMs = 10000;

// One accepted connection on 127.0.0.1, served by a thread running `body`.
// Every wait is bounded; a failure inside the thread is kept in `error`.
class SocketServer : public ServerEnd {
  public:
    SocketServer() {
        context_.owner = reinterpret_cast<TSSHConnection*>(this);
        packet_set_io_hooks(&context_, WriteHook, ReadHook);
    }
    ~SocketServer() override {
        Join();
        packet_free(&context_);
    }

    int Port() const { return listener_.Port(); }
    PacketContext* Server() override { return &context_; }
    void Send(int type, const std::string& payload = "") override {
        SendPacket(&context_, type, payload);
    }
    void SendRaw(const std::string& bytes) { SendBytes(fd_, bytes); }
    // One line up to its line feed (kept).
    std::string ReadLine() {
        std::string line;
        char c = 0;
        while (c != '\n' && line.size() < 1000) {
            if (ReadHook(&context_, &c, 1) != 1) throw TException("no line");
            line += c;
        }
        return line;
    }
    // The next whole packet's type; 0 when the client has closed.
    int Next() {
        for (;;) {
            int length = 0;
            int type = packet_read_poll(&context_, &length);
            if (type != 0) return type;
            char chunk[4096];
            int n = ReadHook(&context_, chunk, sizeof chunk);
            if (n <= 0) return 0;
            packet_process_incoming(&context_, chunk, static_cast<uint32_t>(n));
        }
    }

    void Start(std::function<void(SocketServer&)> body) {
        thread_ = std::thread([this, body] {
            try {
                fd_ = listener_.Accept(kTimeoutMs);
                if (fd_ < 0) throw TException("no connection");
                body(*this);
            } catch (const std::exception& e) {
                std::lock_guard<std::mutex> lock(mutex_);
                error_ = e.what();
            }
        });
    }
    void Join() {
        if (thread_.joinable()) thread_.join();
    }
    std::string Error() {
        std::lock_guard<std::mutex> lock(mutex_);
        return error_;
    }

  private:
    static SocketServer* Of(PacketContext* context) {
        return reinterpret_cast<SocketServer*>(context->owner);
    }
    static void WriteHook(PacketContext* context, const void* bytes, uint32_t n) {
        Of(context)->SendRaw(std::string(static_cast<const char*>(bytes), n));
    }
    static int ReadHook(PacketContext* context, void* buffer, uint32_t n) {
        SocketServer* self = Of(context);
        pollfd p{self->fd_, POLLIN, 0};
        if (poll(&p, 1, kTimeoutMs) != 1) return 0;
        return static_cast<int>(recv(self->fd_, buffer, n, 0));
    }

    TFakeServer listener_{1};
    int fd_ = -1;
    PacketContext context_{};
    std::thread thread_;
    std::mutex mutex_;
    std::string error_;
};

// What the interactive phase of the scripted server saw, and its shell: the
// shell greets on standard output and standard error, echoes standard input
// with an "echo:" prefix, answers "big" with `big_size` bytes, acknowledges
// window sizes, and exits (status 7) on "exit\r".
struct Shell {
    std::mutex mutex;
    std::string client_identification;
    std::vector<std::string> events;
    int stdin_packets = 0;
    bool exit_confirmed = false;
    size_t big_size = 40000;
    int answer_pty = SSH_SMSG_SUCCESS;
    bool exit_at_once = false;  // exit right after the shell starts

    void Record(const std::string& event) {
        std::lock_guard<std::mutex> lock(mutex);
        events.push_back(event);
    }
    std::vector<std::string> Events() {
        std::lock_guard<std::mutex> lock(mutex);
        return events;
    }

    bool Handle(ServerEnd& end, int type) {
        PacketContext* s = end.Server();
        switch (type) {
            case SSH_CMSG_REQUEST_PTY: {
                XmallocPtr<char> term(static_cast<char*>(packet_get_string(s, nullptr)));
                uint32_t rows = packet_get_int(s), columns = packet_get_int(s);
                uint32_t x = packet_get_int(s), y = packet_get_int(s);
                int modes = packet_get_char(s);
                Record("pty " + std::string(term.get()) + " " + std::to_string(rows) + " " +
                       std::to_string(columns) + " " + std::to_string(x) + " " + std::to_string(y) +
                       " " + std::to_string(modes) + " rest " +
                       std::to_string(packet_remaining(s)));
                end.Send(answer_pty);
                return true;
            }
            case SSH_CMSG_EXEC_SHELL:
                Record("shell");
                if (exit_at_once) {
                    end.Send(SSH_SMSG_EXITSTATUS, BigEndian(0));
                    return true;
                }
                end.Send(SSH_SMSG_STDOUT_DATA, SshString("welcome\r\n"));
                end.Send(SSH_SMSG_STDERR_DATA, SshString("stderr line\r\n"));
                return true;
            case SSH_CMSG_STDIN_DATA: {
                uint32_t length = 0;
                XmallocPtr<char> data(static_cast<char*>(packet_get_string(s, &length)));
                std::string text(data.get(), length);
                {
                    std::lock_guard<std::mutex> lock(mutex);
                    stdin_packets++;
                }
                if (exit_at_once) return true;  // keystrokes after the exit are only counted
                if (text == "exit\r") {
                    end.Send(SSH_SMSG_EXITSTATUS, BigEndian(7));
                } else if (text == "big") {
                    std::string big(big_size, 'b');
                    for (size_t i = 0; i < big.size(); i += 1000) big[i] = 'B';
                    end.Send(SSH_SMSG_STDOUT_DATA, SshString(big));
                } else {
                    Record("stdin " + std::to_string(length));
                    end.Send(SSH_SMSG_STDOUT_DATA, SshString("echo:" + text));
                }
                return true;
            }
            case SSH_CMSG_WINDOW_SIZE: {
                uint32_t rows = packet_get_int(s), columns = packet_get_int(s);
                uint32_t x = packet_get_int(s), y = packet_get_int(s);
                std::string event = "window " + std::to_string(rows) + " " +
                                    std::to_string(columns) + " " + std::to_string(x) + " " +
                                    std::to_string(y);
                Record(event);
                end.Send(SSH_SMSG_STDOUT_DATA, SshString(event));
                return true;
            }
            case SSH_CMSG_EXIT_CONFIRMATION: {
                Record("exit confirmed");
                std::lock_guard<std::mutex> lock(mutex);
                exit_confirmed = true;
                return true;
            }
            default:
                Record("unexpected " + std::to_string(type));
                return true;
        }
    }
};

class Ssh1ConnectionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        console_ = std::make_unique<THeadlessConsole>(100, 30);
        console_->SetConsoleSize(100, 30);
        Console = console_.get();
        screen_ = console_->AddScreen();
        scripted_.server_key = SharedRsa(768);
        scripted_.host_key = SharedRsa(1024);
        scripted_.other = [this](ServerEnd& end, int type) { return shell_.Handle(end, type); };
        host_.SetAddress("127.0.0.1");
        host_.SetPort(server_.Port());
        host_.SetProtocol(kProtocolSsh);
        host_.SetUser("quenlor");
        host_.SetPassword("secret");
        host_.SetTerminalType("vt100");
    }
    void TearDown() override {
        connection_.reset();
        server_.Join();
        Console = nullptr;
        if (!key_path_.empty()) unlink(key_path_.c_str());
    }

    // The scripted server behind the identification line `identification`.
    void StartServer(const std::string& identification = "SSH-1.5-ScriptedServer_1.0\n") {
        server_.Start([this, identification](SocketServer& end) {
            end.SendRaw(identification);
            shell_.client_identification = end.ReadLine();
            scripted_.SendPublicKey(end);
            scripted_.public_key_sent = true;
            for (int type; (type = end.Next()) != 0;) {
                scripted_.Handle(end, type);
                std::lock_guard<std::mutex> lock(shell_.mutex);
                if (shell_.exit_confirmed && !shell_.exit_at_once) break;
            }
        });
    }
    void Connect() { connection_ = std::make_unique<TSSH1Connection>(&host_, screen_); }
    std::string Read() {
        char buffer[32768];
        int n = connection_->GetBuffer(buffer, sizeof buffer, false);
        return std::string(buffer, static_cast<size_t>(std::max(n, 0)));
    }

    std::unique_ptr<THeadlessConsole> console_;
    int screen_ = 0;
    SocketServer server_;
    ScriptedServer scripted_;
    Shell shell_;
    THostConfig host_;
    std::unique_ptr<TSSH1Connection> connection_;
    std::string key_path_;
};

TEST_F(Ssh1ConnectionTest, APasswordLoginReachesTheShellAndCarriesData) {
    StartServer();
    Connect();
    connection_->Login();
    EXPECT_EQ(connection_->GetProtocolMajor(), 1);
    EXPECT_EQ(connection_->GetProtocolMinor(), 5);
    EXPECT_EQ(scripted_.user, "quenlor");
    EXPECT_EQ(scripted_.password_tried, "secret");
    EXPECT_EQ(scripted_.cipher, SSH_CIPHER_3DES);

    // Standard output and standard error arrive alike.
    EXPECT_EQ(Read(), "welcome\r\n");
    EXPECT_EQ(Read(), "stderr line\r\n");
    connection_->PutBuffer("ls -l\r", 6, false);
    EXPECT_EQ(Read(), "echo:ls -l\r");

    // ALT+Q's size: rows 10, columns 80, through either entry.
    connection_->SetWindowSize(80, 10);
    EXPECT_EQ(Read(), "window 10 80 0 0");
    const COORD size{132, 43};
    EXPECT_TRUE(connection_->ReportWindowSize(&size));
    EXPECT_EQ(Read(), "window 43 132 0 0");

    // Output longer than the caller's buffer comes in pieces; a paste longer
    // than one packet goes out in several.
    connection_->PutBuffer("big", 3, false);
    std::string got;
    while (got.size() < shell_.big_size) {
        const std::string piece = Read();
        ASSERT_FALSE(piece.empty());
        got += piece;
    }
    ASSERT_EQ(got.size(), shell_.big_size);
    for (size_t i = 0; i < got.size(); i++) ASSERT_EQ(got[i], i % 1000 == 0 ? 'B' : 'b') << i;
    std::string paste(40000, 'p');
    connection_->PutBuffer(paste.data(), static_cast<unsigned>(paste.size()), false);
    std::string echoed;
    while (echoed.size() < 3 * 5 + paste.size()) echoed += Read();
    EXPECT_EQ(echoed, "echo:" + paste.substr(0, 16384) + "echo:" + paste.substr(0, 16384) +
                          "echo:" + paste.substr(0, 40000 - 2 * 16384));

    connection_->PutBuffer("exit\r", 5, false);
    EXPECT_EQ(connection_->GetState(), kStateOpen);
    EXPECT_EQ(Read(), "");
    EXPECT_EQ(connection_->GetState(), kStateClosed);
    server_.Join();
    EXPECT_EQ(server_.Error(), "");
    EXPECT_EQ(shell_.client_identification, "SSH-1.5-Quenlor_3.24.00\n");
    // The terminal gets the session screen's size, no pixel sizes, no modes.
    EXPECT_EQ(shell_.Events(),
              (std::vector<std::string>{"pty vt100 30 100 0 0 0 rest 0", "shell", "stdin 6",
                                        "window 10 80 0 0", "window 43 132 0 0", "stdin 16384",
                                        "stdin 16384", "stdin 7232", "exit confirmed"}));
}

TEST_F(Ssh1ConnectionTest, AnRsaKeyLoginReachesTheShell) {
    RSA* user_key = SharedRsa(1024);
    scripted_.user_key = user_key;
    key_path_ = WriteTempKeyFile(Rsa1KeyFile(user_key));
    host_.SetAuthType(kAuthRsa);
    host_.SetPassword("");
    host_.SetKeyFile(key_path_);

    StartServer();
    Connect();
    connection_->Login();
    EXPECT_EQ(scripted_.password_tried, "");
    EXPECT_EQ(scripted_.response, scripted_.response_expected);
    EXPECT_EQ(Read(), "welcome\r\n");
    connection_->PutBuffer("exit\r", 5, false);
    Read();
    Read();
    EXPECT_EQ(connection_->GetState(), kStateClosed);
}

TEST_F(Ssh1ConnectionTest, ARefusedPseudoTerminalEndsTheLogin) {
    shell_.answer_pty = SSH_SMSG_FAILURE;
    StartServer();
    Connect();
    EXPECT_EQ(FatalMessage([&] { connection_->Login(); }),
              "TSSH1Connection::Login. Unable to request pseudo-terminal. Packet type = 15.");
}

TEST_F(Ssh1ConnectionTest, AServerOfVersion199IsSpokenToInProtocol1) {
    StartServer("some banner\r\nSSH-1.99-Dual_2.0\r\n");
    Connect();
    connection_->Login();
    EXPECT_EQ(Read(), "welcome\r\n");
    EXPECT_STREQ(connection_->GetContext()->server_version_string, "SSH-1.99-Dual_2.0");
    EXPECT_STREQ(connection_->GetContext()->client_version_string, "SSH-1.5-Quenlor_3.24.00");
}

// The exit confirmation (session thread) and keystrokes (input thread) go
// out at the same time; the server checks every packet's framing and check
// bytes, so an interleaved send would show as a corrupt packet there.
TEST_F(Ssh1ConnectionTest, TheExitConfirmationNeverInterleavesWithKeystrokes) {
    shell_.exit_at_once = true;
    StartServer();
    Connect();
    connection_->Login();
    std::atomic<bool> stop{false};
    std::atomic<int> sent{0};
    std::thread input([&] {
        try {
            while (!stop.load()) {
                connection_->PutBuffer("keystroke", 9, false);
                sent++;
            }
        } catch (const TException&) {
            // The server may close first.
        }
    });
    // Let keystrokes flow before the exit status is read.
    while (sent.load() < 50) std::this_thread::yield();
    EXPECT_EQ(Read(), "");
    EXPECT_EQ(connection_->GetState(), kStateClosed);
    while (sent.load() < 100) std::this_thread::yield();
    stop = true;
    input.join();
    connection_.reset();  // closes the socket: the server reads to the end
    server_.Join();
    EXPECT_EQ(server_.Error(), "");
    std::vector<std::string> events = shell_.Events();
    EXPECT_EQ(std::count(events.begin(), events.end(), "exit confirmed"), 1);
    EXPECT_EQ(shell_.stdin_packets, sent.load());
}

}  // namespace
