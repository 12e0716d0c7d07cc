#include "evaluation/folder.hpp"

#include "evaluation/runner.hpp"

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <system_error>

namespace tarvok::evaluation {

namespace {

[[noreturn]] void fail(const std::filesystem::path& path, int error) {
    throw std::filesystem::filesystem_error(std::generic_category().message(error), path,
                                            std::error_code(error, std::generic_category()));
}

std::string read_whole(const std::filesystem::path& path, int flags) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | flags);
    if (fd < 0) fail(path, errno);
    std::string bytes;
    char buffer[1 << 16];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            int error = errno;
            ::close(fd);
            fail(path, error);
        }
        if (n == 0) break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return bytes;
}

/// `folder` and its parents made; a folder there (or a link to one) is kept,
/// anything else at its name is EEXIST.
void make_folder(const std::filesystem::path& folder) {
    std::error_code ignored;
    if (std::filesystem::is_directory(folder, ignored)) return;
    if (std::filesystem::exists(std::filesystem::symlink_status(folder, ignored))) fail(folder, EEXIST);
    std::filesystem::create_directories(folder);
}

/// Refuses a data set the run would write over: one at a name the run
/// writes in `out_dir` (its own files, a problem's folder), links resolved.
void refuse_dataset_inside(const std::filesystem::path& out_dir, const std::string& shown,
                           const std::filesystem::path& dataset, const std::vector<Problem>& problems) {
    std::error_code unknown;
    std::filesystem::path in = std::filesystem::weakly_canonical(dataset, unknown);
    std::filesystem::path out = std::filesystem::weakly_canonical(out_dir, unknown);
    if (unknown || in.empty()) return;  // unreadable: the data set was read already, so this is not it
    std::filesystem::path relative = in.lexically_relative(out);
    if (relative.empty() || *relative.begin() == "..") return;
    std::string head = relative.begin()->string();
    bool taken = head == kResultsFile || head == kSummaryFile || head == kLockFile;
    for (const Problem& p : problems) taken = taken || head == std::filesystem::path(p.folder).begin()->string();
    if (taken)
        throw DatasetError("the data set is at " + (std::filesystem::path(shown) / head).string() +
                           ", which the run writes; choose another output folder");
}

}  // namespace

std::string read_file(const std::filesystem::path& path) { return read_whole(path, 0); }

Prepared prepare_folder(const std::filesystem::path& out_dir, const std::string& shown,
                        const std::vector<Problem>& problems, const RunKey& key, const Settings& s,
                        const std::filesystem::path& dataset) {
    make_folder(out_dir);
    refuse_dataset_inside(out_dir, shown, dataset, problems);
    Prepared p;
    std::filesystem::path lock_path = out_dir / kLockFile;
    p.lock = files::FileLock::try_take(lock_path);
    if (!p.lock) throw FolderBusy(busy_message(shown, (std::filesystem::path(shown) / kLockFile).string()));
    p.results_path = out_dir / kResultsFile;
    if (std::filesystem::is_symlink(p.results_path)) fail(p.results_path, ELOOP);
    if (std::filesystem::exists(p.results_path)) p.recorded = read_results(read_whole(p.results_path, O_NOFOLLOW));
    p.key = key;
    p.plan = plan_resume(problems, p.recorded.by_id, p.key, s.rel_tol, s.force, s.retry_errors);
    if (p.plan.conflict && !s.force) throw FolderConflict(conflict_message(shown, *p.plan.conflict));
    return p;
}

void own_folder(const std::filesystem::path& folder) {
    namespace fs = std::filesystem;
    fs::file_status status = fs::symlink_status(folder);
    if (fs::exists(status) && !fs::is_directory(status)) fs::remove(folder);
    fs::create_directories(folder);
    for (const fs::directory_entry& entry : fs::directory_iterator(folder))
        if (entry.is_symlink()) fs::remove(entry.path());
}

std::filesystem::path own_problem_folder(const std::filesystem::path& out_dir, const std::filesystem::path& relative) {
    std::filesystem::path folder = out_dir;
    for (const std::filesystem::path& level : relative) own_folder(folder /= level);
    return folder;
}

AppendedFile::AppendedFile(const std::filesystem::path& path, Kind kind) : path_(path), sync_(kind == Kind::Results) {
    int start = kind == Kind::Results ? O_APPEND : O_TRUNC;
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | start, 0666);
    if (fd_ < 0) fail(path, errno);
}

void AppendedFile::append(std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t written = ::write(fd_, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written < 0) fail(path_, errno);
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    if (sync_ && ::fsync(fd_) != 0) fail(path_, errno);
}

void AppendedFile::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

RunPlan run_plan(const RunConfig& c, const Dataset& dataset, const Prepared& prepared) {
    RunPlan plan;
    plan.problems = &dataset.problems;
    plan.resume = &prepared.plan;
    plan.key = prepared.key;
    plan.settings = {c.dataset_shown,          c.provider_name,        c.model_shown,
                     c.iterations.value_or(0), c.execution_check_made, c.rel_tol};
    plan.bad_records = dataset.bad.size();
    plan.rel_tol = c.rel_tol;
    plan.stop_after_errors = c.stop_after_errors;
    plan.results_end_in_newline = prepared.recorded.ends_in_newline;
    if (c.progress)
        plan.start = StartFacts{dataset.problems.size(), c.dataset_name, c.model.value_or(""), c.results_name};
    plan.bad = &dataset.bad;
    plan.folder = prepared.results_path.parent_path();
    plan.jobs = c.jobs;
    plan.progress = c.progress;
    return plan;
}

}  // namespace tarvok::evaluation
