// SSH-2 session throughput: 50 000 000 bytes from the loopback openssh-server
// (tests/peers/start-sshd.sh) with 3des-cbc and hmac-sha1, read through
// TSSH2Connection::GetBuffer without drawing. In the same run, for scale:
// Debian's ssh client with the same algorithms writing to /dev/null (with a
// pseudo-terminal, as this client always has one, and without), and
// libcrypto's raw des-ede3-cbc speed. Targets: at least the ssh client's
// speed and at least 0.8 of the raw cipher speed.
//
// Needs the peers running (bash tests/peers/start-all.sh); skips otherwise.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "base/exception.h"
#include "config/host_config.h"
#include "ssh/connection/ssh2_connection.h"

namespace {

constexpr long kBytes = 50000000;

std::string Env(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : fallback;
}

int SshdPort() {
    return std::atoi(Env("QUENLOR_SSHD_PORT", "2222").c_str());
}

void BM_Ssh2SessionGetBuffer(benchmark::State& state) {
    THostConfig host;
    host.SetAddress("127.0.0.1");
    host.SetPort(SshdPort());
    host.SetProtocol(kProtocolSsh2);
    host.SetUser(Env("QUENLOR_TEST_USER", "quenlor"));
    host.SetPassword(Env("QUENLOR_TEST_PASSWORD", "quenlor-test-pw"));
    host.SetTerminalType("vt100");
    long total = 0;
    for (auto _ : state) {
        try {
            state.PauseTiming();
            TSSH2Connection connection(&host, 0);
            connection.Login();
            const std::string command = "head -c " + std::to_string(kBytes) + " /dev/zero; exit\n";
            connection.PutBuffer(command.data(), static_cast<unsigned>(command.size()), false);
            state.ResumeTiming();
            std::vector<char> buffer(32768);
            long received = 0;
            while (connection.GetState() == kStateOpen)
                received += connection.GetBuffer(buffer.data(), 32768, false);
            total += received;
            if (received < kBytes) state.SkipWithError("the session ended early");
        } catch (const TException& e) {
            state.SkipWithError(("no SSH-2 peer: " + e.Message()).c_str());
            return;
        }
    }
    state.SetBytesProcessed(total);
}
BENCHMARK(BM_Ssh2SessionGetBuffer)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_SshClient(benchmark::State& state) {
    const bool pty = state.range(0) != 0;
    const std::string command =
        "sshpass -p '" + Env("QUENLOR_TEST_PASSWORD", "quenlor-test-pw") + "' ssh " +
        (pty ? "-tt " : "") +
        "-o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null -o LogLevel=ERROR "
        "-o KexAlgorithms=diffie-hellman-group1-sha1 -o HostKeyAlgorithms=ssh-dss "
        "-c 3des-cbc -m hmac-sha1 -p " +
        std::to_string(SshdPort()) + " " + Env("QUENLOR_TEST_USER", "quenlor") +
        "@127.0.0.1 'head -c " + std::to_string(kBytes) + " /dev/zero' >/dev/null 2>&1 </dev/null";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("ssh client failed (peers running? sshpass installed?)");
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * kBytes);
}
BENCHMARK(BM_SshClient)
    ->ArgName("pty")
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

void BM_Raw3desCbc(benchmark::State& state) {
    std::vector<unsigned char> in(16384, 0), out(16384 + 8);
    unsigned char key[24] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12,
                             13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24};
    unsigned char iv[8] = {};
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    EVP_DecryptInit_ex(context, EVP_des_ede3_cbc(), nullptr, key, iv);
    EVP_CIPHER_CTX_set_padding(context, 0);
    for (auto _ : state) {
        int n = 0;
        EVP_DecryptUpdate(context, out.data(), &n, in.data(), static_cast<int>(in.size()));
        benchmark::DoNotOptimize(out.data());
    }
    EVP_CIPHER_CTX_free(context);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(in.size()));
}
BENCHMARK(BM_Raw3desCbc);

}  // namespace

BENCHMARK_MAIN();
