#include "cli/ArgParse.h"

#include "cli/ExitStatus.h"

#include <cstdio>
#include <vector>

namespace corvane {

void SetUpParser(CLI::App& app) {
    app.allow_windows_style_options(false);
    app.set_help_flag("-h,--help");
    app.set_version_flag("--version", std::string(Version()));
    app.option_defaults()->disable_flag_override();
}

CLI::Option* AddValueOption(CLI::App& app, const char* names, std::string& value) {
    const CLI::Validator notAnOption(
        [](std::string& text) {
            if (text.empty())
                return std::string("needs a value");
            if (text.size() > 1 && text[0] == '-')
                return "needs a value, not the option " + text;
            return std::string();
        },
        "", "value");
    return app.add_option(names, value)->check(notAnOption);
}

Parsed ParseArguments(CLI::App& app, int argc, char** argv, std::string& error) {
    // The library takes the arguments last first.
    std::vector<std::string> args;
    for (int i = argc - 1; i >= 0; --i)
        args.emplace_back(argv[i]);
    try {
        app.parse(args);
    } catch (const CLI::CallForHelp&) {
        return Parsed::Help;
    } catch (const CLI::CallForVersion&) {
        return Parsed::Version;
    } catch (const CLI::ArgumentMismatch& e) {
        // "--log: 1 required TEXT missing": an option given last, without its value.
        const std::string what = e.what();
        const bool missing = what.size() > 8 && what.compare(what.size() - 8, 8, " missing") == 0;
        error = missing ? what.substr(0, what.find(':')) + ": needs a value" : what;
        return Parsed::Bad;
    } catch (const CLI::Error& e) {
        error = e.what();
        return Parsed::Bad;
    } catch (const std::exception& e) {
        error = e.what();
        return Parsed::Bad;
    }
    return Parsed::Go;
}

int ParseCommand(CLI::App& app, int argc, char** argv, const char* program, const char* command,
                 const char* help, int (*badUsage)(const char* command, const std::string& error)) {
    std::string error;
    switch (ParseArguments(app, argc, argv, error)) {
    case Parsed::Help:
        std::fputs(help, stdout);
        return kExitOk;
    case Parsed::Version:
        PrintVersion(program);
        return kExitOk;
    case Parsed::Bad:
        return badUsage(command, error);
    case Parsed::Go:
        break;
    }
    return -1;
}

} // namespace corvane
