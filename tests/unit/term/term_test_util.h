// Helpers shared by the terminal-emulation tests.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <string>

// A file with the given content in the test's temporary directory, removed
// when the object goes.
class TTempFile {
  public:
    explicit TTempFile(const std::string& content) {
        static std::atomic<int> counter{0};
        path_ = ::testing::TempDir() + "quenlor_term_" + std::to_string(::getpid()) + "_" +
                std::to_string(counter++);
        std::ofstream out(path_, std::ios::binary);
        out << content;
    }
    ~TTempFile() { std::remove(path_.c_str()); }
    TTempFile(const TTempFile&) = delete;
    TTempFile& operator=(const TTempFile&) = delete;
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};
