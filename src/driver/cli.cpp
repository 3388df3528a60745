#include "driver/cli.h"

#include "io/failure.h"
#include "io/output_file.h"

const CLI::Validator& given() {
    static const CLI::Validator v(
        [](std::string& s) { return s.empty() ? std::string("an empty value is not allowed") : std::string(); }, "",
        "given");
    return v;
}

bool parse_command(CLI::App& app, int argc, const char* const* argv, Out& out, const std::string& usage) {
    std::vector<std::string> args;
    for (int i = argc - 1; i >= 1; --i) args.emplace_back(argv[i]);
    try {
        app.parse(args);
    } catch (const CLI::CallForHelp&) {
        out << app.help();
        out.flush();
        return false;
    } catch (const CLI::CallForVersion& v) {
        out << v.what() << eol;
        return false;
    } catch (const CLI::RequiredError&) {
        throw Failure{kStatusUsage, "usage: " + usage + " (see --help)"};
    } catch (const CLI::ParseError& e) {
        throw Failure{kStatusUsage, std::string(e.what()) + " (see --help)"};
    }
    return true;
}

void refuse_clashes(const std::vector<std::pair<std::string, std::string>>& results,
                    const std::vector<std::pair<std::string, std::string>>& others) {
    for (const auto& [name, path] : results)
        for (const auto& [other, other_path] : others)
            if (name != other && !path.empty() && !other_path.empty() && same_file(path, other_path))
                throw Failure{kStatusUsage, name + " and " + other + " name the same file, " + path +
                                                ": a result would overwrite it (see --help)"};
}

void deliver(std::optional<OutputFile>& file, const std::string& text, Out& out) {
    if (file) {
        file->write(text.data(), text.size());
        out.flush();  // before a result that goes through standard output
        file->close();
    } else {
        out << text;
        out.flush();
    }
}
