// tolvane: a command-line host for the library; `tolvane --help` (help.txt)
// describes it.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "Commands.h"
#include "HelpText.h"

namespace {

// The synopsis of the help text, as a usage block.
std::string UsageText() {
    const std::string help = kHelpText;
    const size_t begin = help.find("SYNOPSIS\n") + 9;
    const size_t end = help.find("\n\n", begin);
    std::string usage = "usage:";
    for (size_t at = begin; at < end;) {
        size_t eol = help.find('\n', at);
        if (eol > end) eol = end;
        usage += (at == begin ? " " : "       ") + help.substr(at + 2, eol - at - 2) + "\n";
        at = eol + 1;
    }
    return usage + "Run 'tolvane --help' for the whole text.\n";
}

int Refuse(const std::string& why) {
    std::fprintf(stderr, "tolvane: %s\n%s", why.c_str(), UsageText().c_str());
    return 2;
}

bool ParseSession(const std::string& text, int* value) {
    if (text.empty() || text.size() > 7 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    *value = std::atoi(text.c_str());
    return *value <= 1000000;
}

bool IsHelp(const std::string& arg) { return arg == "--help" || arg == "-h"; }

int RunHostCommand(const std::vector<std::string>& args, bool server) {
    HostOptions options;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "--hex") {
            options.hex = true;
        } else if (arg == "--echo" && server) {
            options.echo = true;
        } else if (arg == "--config" || arg == "--log" || arg == "--session") {
            if (!hasValue) return Refuse("option '" + arg + "' needs a value");
            const std::string& value = args[++i];
            if (arg == "--config") options.config = value;
            else if (arg == "--log") options.log = value;
            else if (!ParseSession(value, &options.session))
                return Refuse("--session needs a number from 0 to 1000000, not '" + value + "'");
        } else {
            return Refuse("unknown option '" + arg + "' for '" + args[0] + "'");
        }
    }
    return RunHost(options, server);
}

int Run(const std::vector<std::string>& args) {
    if (args.empty()) return Refuse("no command given");
    const std::string& command = args[0];
    if (command == "help" || IsHelp(command)) {
        std::fputs(kHelpText, stdout);
        return 0;
    }
    if (command == "--version") {
        std::printf("%s\n", kVersionText);
        return 0;
    }
    for (const std::string& arg : args) {
        if (IsHelp(arg)) {
            std::fputs(kHelpText, stdout);
            return 0;
        }
    }
    if (command == "client" || command == "server") return RunHostCommand(args, command == "server");
    if (command == "demo") {
        if (args.size() == 1) return RunDemo(false);
        if (args.size() == 2 && args[1] == "--keep") return RunDemo(true);
        return Refuse("unknown option '" + args.back() + "' for 'demo'");
    }
    if (command == "trace") {
        std::vector<std::string> files;
        bool descramble = false;
        for (size_t i = 1; i < args.size(); ++i) {
            if (args[i] == "--descramble") descramble = true;
            else if (args[i].size() > 1 && args[i][0] == '-') return Refuse("unknown option '" + args[i] + "' for 'trace'");
            else files.push_back(args[i]);
        }
        if (files.size() != 1) return Refuse("'trace' needs exactly one trace file");
        return RunTrace(files[0], descramble);
    }
    return Refuse("unknown command '" + command + "'");
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tolvane: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "tolvane: unexpected failure\n");
    }
    return 1;
}
