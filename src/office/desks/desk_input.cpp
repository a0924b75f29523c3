#include "office/desks/desk_input.hpp"

#include <toml++/toml.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "common/native_path.hpp"
#include "office/desks/encoding.hpp"

namespace profiledesk::office {

namespace {

#ifdef _WIN32
constexpr std::string_view kSeparators = "/\\";
#else
constexpr std::string_view kSeparators = "/";
#endif

Status at(const std::string& file, std::size_t line, std::string_view what) {
    return Status::usage(file + ":" + std::to_string(line) + ": " + std::string(what));
}

// One [[desk]] table, or the mistake in it.
Result<DeskInput> deskOf(const toml::table& table, const std::string& file,
                         const std::filesystem::path& folder) {
    const std::size_t line = table.source().begin.line;
    DeskInput desk;
    for (const auto& [key, value] : table) {
        const std::string_view name = key.str();
        if (name != "name" && name != "path" && name != "encoding") {
            return at(file, line,
                      "unknown key '" + std::string(name) + "' (a desk has name, path and encoding)");
        }
        const std::optional<std::string> text = value.value_exact<std::string>();
        if (!text || text->empty()) {
            return at(file, line, std::string(name) + " is not a text with something in it");
        }
        if (name == "name") {
            desk.name = *text;
        } else if (name == "path") {
            desk.path = utf8Path(folder / nativePath(*text));
        } else if (const std::optional<std::string_view> known = knownEncoding(*text)) {
            desk.encoding = *known;
        } else {
            return at(file, line, "unknown encoding '" + *text + "' (known: " + knownEncodings() + ")");
        }
    }
    if (desk.name.empty() || desk.path.empty()) {
        return at(file, line, std::string("a desk without a ") + (desk.name.empty() ? "name" : "path"));
    }
    return desk;
}

}  // namespace

Result<DeskInput> deskFromArgument(std::string_view argument) {
    const std::size_t equals = argument.find('=');
    if (equals == std::string_view::npos ||
        argument.substr(0, equals).find_first_of(kSeparators) != std::string_view::npos) {
        return DeskInput{std::string(argument), std::string(argument), {}};
    }
    if (equals == 0 || equals + 1 == argument.size()) {
        return Status::usage(std::string(argument) +
                             ": a desk needs a NAME and a PATH (NAME=PATH; a path with '=' in it as ./" +
                             std::string(argument) + ")");
    }
    return DeskInput{std::string(argument.substr(0, equals)), std::string(argument.substr(equals + 1)), {}};
}

Result<std::vector<DeskInput>> readDesksFile(const std::string& file) {
    std::error_code ignored;
    if (std::filesystem::is_directory(nativePath(file), ignored)) {
        return Status::usage(file + ": " +
                             std::strerror(EISDIR));  // Windows would say only "Permission denied"
    }
    errno = 0;
    std::ifstream in(nativePath(file), std::ios::binary);
    std::string content;
    try {
        content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    } catch (const std::ios_base::failure&) {
        in.setstate(std::ios::badbit);  // a folder, for one: the reason is in errno
    }
    if (!in.is_open() || in.bad()) {
        const int error = errno;
        return Status::usage(file + ": " + (error != 0 ? std::strerror(error) : "could not be read"));
    }
    toml::table root;
    try {
        root = toml::parse(content, file);
    } catch (const toml::parse_error& error) {
        return at(file, error.source().begin.line, error.description());
    }
    const std::filesystem::path folder = nativePath(file).parent_path();
    std::vector<DeskInput> desks;
    std::map<std::string, std::size_t> lineOfName;
    for (const auto& [key, value] : root) {
        if (key.str() != "desk" || !value.is_array_of_tables()) {
            return at(
                file, value.source().begin.line,
                "'" + std::string(key.str()) + "' is not a [[desk]] table (a desks file holds only those)");
        }
        for (const toml::node& node : *value.as_array()) {
            const toml::table& table = *node.as_table();
            Result<DeskInput> desk = deskOf(table, file, folder);
            if (!desk.isOk()) {
                return desk.status();
            }
            const DeskInput& read = desk.value();
            const std::size_t line = table.source().begin.line;
            if (const auto [earlier, added] = lineOfName.emplace(read.name, line); !added) {
                return at(file, line,
                          "a second desk named '" + read.name + "' (the first on line " +
                              std::to_string(earlier->second) + ")");
            }
            const std::vector<std::string> paths = expandPattern(read.path);
            std::transform(paths.begin(), paths.end(), std::back_inserter(desks),
                           [&read](const std::string& path) {
                               return DeskInput{read.name, path, read.encoding};
                           });
        }
    }
    if (lineOfName.empty()) {
        return Status::usage(file + ": no [[desk]] table");
    }
    return desks;
}

}  // namespace profiledesk::office
