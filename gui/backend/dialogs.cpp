// request-file and request-dir: the arguments read and checked here, the
// chooser run by the toolkit module, its paths made into file! values.
#include "gui/backend/dialogs.h"

#include "gui/backend/toolkit.h"
#include "gui/backend/view_routines.h"
#include "runtime/core/collector.h"
#include "runtime/core/raise.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/string.h"

#include <optional>
#include <string>
#include <vector>

#include <sys/stat.h>

namespace kiv::dialogs {

namespace {

std::string kept;  // the folder request-dir/keep chose last

bool given(const Cell& flag) { return flag.is(TypeId::logic) && flag.logic_value() != 0; }

// The toolkit with its display, or the error that no dialog can be shown.
void require_display(const char* name) {
    if (toolkit::get() != nullptr) return;
    Cell what{};
    string::make_at(what, 24);
    string::append_nul_text(what.series_node(), name);
    runtime::raise_error(ErrorCategory::access, "no-create", &what);
}

// The local path of a string! or file! (a file! relative to the current
// folder made whole); nothing for other values or an unusable name.
std::optional<std::string> local_of(const Cell& value) {
    if (value.is(TypeId::string)) {
        const std::string path = string::utf8_of(value);
        if (path.empty() || path.find('\0') != std::string::npos) return std::nullopt;
        return path;
    }
    if (!value.is(TypeId::file)) return std::nullopt;
    Cell file = value;
    std::optional<std::string> path = file::local_path(file);
    if (path && !path->empty() && path->front() != '/' && path->find('/') != std::string::npos)
        path = file::current_directory() + *path;
    return path;
}

bool is_directory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The descriptions and patterns of a filter block: each value a string! or
// file!, else a script error with the value.
std::vector<std::string> filter_texts(const Cell& list) {
    std::vector<std::string> texts;
    const std::int32_t n = block::count_from_head(list);
    for (std::int32_t i = 0; i < n; ++i) {
        Cell v = *block::get_cell(list, list.series_head() + i);
        if (!v.is(TypeId::string) && !v.is(TypeId::file))
            runtime::raise_error(ErrorCategory::script, "invalid-arg", &v);
        texts.push_back(string::utf8_of(v));
    }
    return texts;
}

// A file! of a local path; a folder's ends in "/".
void append_file(Cell& list, const std::string& path, bool folder) {
    std::string text = path;
    if (folder && (text.empty() || text.back() != '/')) text += '/';
    Cell file{};
    string::make_at(file, static_cast<std::int32_t>(text.size()) + 1);
    string::append_utf8(file.series_node(), text.data(), static_cast<std::int32_t>(text.size()));
    file.set_type(TypeId::file);
    block::append_copy(list, file);
}

// Runs the chooser; the chosen paths, none of them when it was cancelled.
std::vector<std::string> run(const Request& request) {
    std::vector<std::string> chosen;
    const auto found = [](void* context, const char* path) {
        static_cast<std::vector<std::string>*>(context)->emplace_back(path);
    };
    const auto chooser = reinterpret_cast<Entry>(toolkit::module_function(entry));
    if (!chooser(&request, found, &chosen)) chosen.clear();
    return chosen;
}

// title name filter save? multi?: a file!, a block of file! with multi?, or
// none when cancelled.
void request_file(Cell* args) {
    view_routines::record_call("request-file", args, 5);
    const std::vector<std::string> filters =
        args[2].is(TypeId::block) ? filter_texts(args[2]) : std::vector<std::string>{"All files", "*"};
    require_display("file requester");
    const bool save = given(args[3]);
    const bool multi = given(args[4]);
    const bool titled = args[0].is(TypeId::string);
    const std::string title = titled ? string::utf8_of(args[0]) : "";
    none::make_at(args[0]);
    if (toolkit::recording()) return;

    std::string folder, name;
    if (const std::optional<std::string> path = local_of(args[1])) {
        const std::size_t slash = path->rfind('/');
        if (is_directory(*path)) {
            folder = *path;
        } else if (slash == std::string::npos) {
            name = *path;  // the chooser's own folder, the name filled in
        } else {
            folder = slash == 0 ? "/" : path->substr(0, slash);
            name = path->substr(slash + 1);
        }
    }
    std::vector<const char*> pairs;
    for (std::size_t i = 0; i + 1 < filters.size(); i += 2) {
        pairs.push_back(filters[i].c_str());
        pairs.push_back(filters[i + 1].c_str());
    }
    Request request;
    request.title = titled ? title.c_str() : nullptr;
    request.folder = folder.empty() ? nullptr : folder.c_str();
    request.name = name.empty() ? nullptr : name.c_str();
    request.filters = pairs.data();
    request.filter_pairs = static_cast<std::int32_t>(pairs.size() / 2);
    request.save = save;
    request.multi = multi;
    const std::vector<std::string> chosen = run(request);
    if (chosen.empty()) return;
    Cell list{};
    block::make_at(list, static_cast<std::int32_t>(chosen.size()));
    const collector::Root keep(list);
    for (const std::string& path : chosen) append_file(list, path, false);
    args[0] = multi ? list : *block::get_cell(list, 0);
}

// title dir filter keep? multi?: a file! ending in "/", or none when
// cancelled. With keep?, the folder chosen last is the one shown first.
void request_dir(Cell* args) {
    view_routines::record_call("request-dir", args, 5);
    require_display("folder requester");
    const bool keep = given(args[3]);
    const bool titled = args[0].is(TypeId::string);
    const std::string title = titled ? string::utf8_of(args[0]) : "";
    none::make_at(args[0]);
    if (toolkit::recording()) return;

    std::string folder = local_of(args[1]).value_or("");
    if (keep && !kept.empty()) folder = kept;
    Request request;
    request.title = titled ? title.c_str() : nullptr;
    request.folder = folder.empty() ? nullptr : folder.c_str();
    request.directory = true;
    const std::vector<std::string> chosen = run(request);
    if (chosen.empty()) return;
    if (keep) kept = chosen.front();
    Cell list{};
    block::make_at(list, 1);
    const collector::Root hold(list);
    append_file(list, chosen.front(), true);
    args[0] = *block::get_cell(list, 0);
}

}  // namespace

void add_routines() {
    routine::add("request-file", request_file);
    routine::add("request-dir", request_dir);
}

}  // namespace kiv::dialogs
