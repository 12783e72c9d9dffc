// A model profile from arbitrary bytes, through rq::config::IniFile and the
// reads of the profile loader: no crash, hang or runaway memory, bounded
// lists for the window, and the profile file left exactly as it was.

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

#include <sys/stat.h>

#include "config/ini_file.h"
#include "ini_reads.h"

using rq::config::IniFile;
using rq::fuzz::Check;

namespace {

std::string ProfilePath()
{
    static const std::string path = [] {
        const std::string directory = rq::fuzz::ScratchDirectory() + "/Modes";
        mkdir(directory.c_str(), 0777);
        return directory + "/RQ-M4T.ini";
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    rq::fuzz::InitialiseToolkit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string path = ProfilePath();
    rq::fuzz::WriteBytes(path, data, size);
    {
        IniFile store(path);
        Check(store.config != nullptr, "the store opens");
        const rq::fuzz::ProfileValues first = rq::fuzz::ReadProfile(*store.config, 9600);
        // Reading is repeatable: the window re-reads the profile on a model change.
        const rq::fuzz::ProfileValues second = rq::fuzz::ReadProfile(*store.config, 9600);
        Check(first.model == second.model && first.messageNames == second.messageNames &&
                  first.brightEntries == second.brightEntries && first.lockId == second.lockId,
              "the same profile reads the same twice");
        store.Close();
    }
    std::ifstream in(path, std::ios::binary);
    const std::string after((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Check(after.size() == size && std::equal(after.begin(), after.end(), reinterpret_cast<const char*>(data)),
          "the loader leaves the profile file as it was");
    return 0;
}
