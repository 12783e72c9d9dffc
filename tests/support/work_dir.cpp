#include "support/work_dir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <random>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace rq::test {

namespace {

// A new, empty directory under the system's temporary directory.
std::string MakeTemporaryDirectory()
{
#ifdef _WIN32
    // No mkdtemp: a random name, tried until one is new.
    std::random_device seed;
    std::mt19937 random(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate = fs::temp_directory_path() / ("rq-test-" + std::to_string(random()));
        std::error_code error;
        if (fs::create_directory(candidate, error)) return candidate.string();
    }
    throw std::runtime_error("cannot make a temporary directory");
#else
    std::string pattern = (fs::temp_directory_path() / "rq-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    return pattern;
#endif
}

}  // namespace

WorkDir::WorkDir()
{
    previous = fs::current_path().string();
    path = MakeTemporaryDirectory();
    fs::current_path(path);
}

WorkDir::~WorkDir()
{
    std::error_code ignored;
    fs::current_path(previous, ignored);
    fs::remove_all(path, ignored);
}

void WorkDir::WriteFile(const std::string& relative, const std::string& content) const
{
    // UTF-8 names, as the tests write them, on Windows too.
    fs::path target = fs::path(path) / fs::u8path(relative);
    fs::create_directories(target.parent_path());
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    out << content;
}

std::string WorkDir::ReadFile(const std::string& relative) const
{
    std::ifstream in(fs::path(path) / fs::u8path(relative), std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

bool WorkDir::Exists(const std::string& relative) const
{
    return fs::exists(fs::path(path) / fs::u8path(relative));
}

void WorkDir::CopyRuntimeData(bool modes, bool images, bool locale) const
{
    const fs::path runtime = RQ_RUNTIME_DIR;
    const auto options = fs::copy_options::recursive | fs::copy_options::overwrite_existing;
    if (modes) fs::copy(runtime / "Modes", fs::path(path) / "Modes", options);
    if (images) fs::copy(runtime / "img", fs::path(path) / "img", options);
    if (locale) fs::copy(runtime / "locale", fs::path(path) / "locale", options);
}

bool ReadOnlyFilesRefuseWriting()
{
#ifdef _WIN32
    const fs::path probe = fs::temp_directory_path() / ("rq-read-only-" + std::to_string(GetCurrentProcessId()));
    std::ofstream(probe) << 'x';
    fs::permissions(probe, fs::perms::owner_read);
    const HANDLE file = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    const bool refused = file == INVALID_HANDLE_VALUE;
    if (!refused) CloseHandle(file);
    std::error_code ignored;
    fs::permissions(probe, fs::perms::owner_all, ignored);
    fs::remove(probe, ignored);
    return refused;
#else
    return geteuid() != 0;
#endif
}

std::string NativeLines(const std::string& text)
{
#ifdef _WIN32
    std::string native;
    native.reserve(text.size() + text.size() / 8);
    for (const char c : text) {
        if (c == '\n') native += '\r';
        native += c;
    }
    return native;
#else
    return text;
#endif
}

}  // namespace rq::test
