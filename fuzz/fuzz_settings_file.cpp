// The settings file from arbitrary bytes, through rq::config::IniFile and the
// reads the window makes at start-up: no crash, hang or runaway memory; the
// save the window makes at exit keeps every value it read; and a value the
// window writes (a port name, a model name) reads back as written.

#include <cstdint>
#include <cstring>
#include <string>

#include <sys/stat.h>

#include "config/ini_file.h"
#include "config/settings_keys.h"
#include "ini_reads.h"

using rq::config::IniFile;
using rq::fuzz::Check;

namespace {

std::string SettingsPath()
{
    static const std::string path = [] {
        const std::string directory = rq::fuzz::ScratchDirectory() + "/Config";
        mkdir(directory.c_str(), 0777);
        return directory + "/Config.ini";
    }();
    return path;
}

// A value for a text key made of the input's first bytes, one character per
// byte, as an operator could type it (no NUL: a text field holds none).
wxString ValueFrom(const std::uint8_t* data, std::size_t size)
{
    wxString value;
    for (std::size_t i = 0; i < size && i < 48; ++i)
        if (data[i] != 0) value += wxUniChar(static_cast<unsigned>(data[i]));
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    rq::fuzz::InitialiseToolkit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string path = SettingsPath();
    rq::fuzz::WriteBytes(path, data, size);

    rq::fuzz::SettingsValues first;
    {
        IniFile store(path);
        Check(store.config != nullptr, "the store opens");
        first = rq::fuzz::ReadSettings(*store.config);
        // The window's exit: a save of everything, changed or not.
        Check(store.Save(), "a file that was read can be saved");
    }
    const wxString port = ValueFrom(data, size);
    bool writtenPort = false;
    bool writtenWidth = false;
    {
        IniFile store(path);
        Check(rq::fuzz::ReadSettings(*store.config) == first, "the save keeps every value the window reads");
        store.config->Write(rq::config::keys::ComPort, port);
        store.config->Write(rq::config::keys::Width, 96L);
        // An entry marked immutable in the file ("!COM=...") ignores writes,
        // the toolkit's rule that only a hand-edited file invokes; whatever
        // the store holds now is what the disk must hold after the save.
        store.config->SetExpandEnvVars(false);
        writtenPort = store.config->Read(rq::config::keys::ComPort, wxString()) == port;
        writtenWidth = store.config->ReadLong(rq::config::keys::Width, 0) == 96;
        Check(store.Save(), "a file that was read can be saved again");
    }
    {
        IniFile store(path);
        store.config->SetExpandEnvVars(false);
        if (writtenPort)
            Check(store.config->Read(rq::config::keys::ComPort, wxString()) == port, "a written text reads back");
        if (writtenWidth)
            Check(store.config->ReadLong(rq::config::keys::Width, 0) == 96, "a written number reads back");
    }
    return 0;
}
