#include "output-folder.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

/* Whether a file name is one this tool writes into its output folder. */
bool is_preview_output_name(const std::string &name)
{
	const std::string extension = fs::path(name).extension();
	return (name.rfind("frame-", 0) == 0 && extension == ".png") ||
	       extension == ".gif" || extension == ".mp4" ||
	       extension == ".webm";
}

/* Makes a hidden folder (or file) beside `path`, named after it and `kind`;
 * throws with `failure` and the system's reason. */
std::string make_hidden(const std::string &path, const std::string &kind,
			bool file, const std::string &failure)
{
	const fs::path parent = fs::path(path).parent_path();
	std::string name = (parent.empty() ? "." : parent.string()) + "/." +
			   fs::path(path).filename().string() + "." + kind +
			   "-XXXXXX";
	const int fd = file ? mkstemp(name.data()) : -1;
	if (file ? fd < 0 : !mkdtemp(name.data()))
		throw std::runtime_error(failure + ": " + std::strerror(errno));
	if (file)
		close(fd);
	return name;
}

} // namespace

Output::Output(const std::string &given, bool folder)
	: path(given), folder(folder)
{
	std::error_code error;
	if (!folder) {
		if (path.empty() || path.back() == '/' ||
		    fs::is_directory(path, error))
			throw std::runtime_error(
				path + " is a folder, not a file name");
		work = make_hidden(path, "tmp", true, "cannot write " + path);
		return;
	}
	while (path.size() > 1 && path.back() == '/')
		path.pop_back();
	if (path.empty())
		throw std::runtime_error("the output folder name is empty");
	if (fs::exists(path, error) && !fs::is_directory(path, error))
		throw std::runtime_error("output folder " + path +
					 " exists and is not a folder");
	for (const auto &entry : fs::directory_iterator(path, error)) {
		const std::string name = entry.path().filename();
		if (!is_preview_output_name(name))
			throw std::runtime_error(
				"output folder " + path + " holds " + name +
				", which this tool did not write; "
				"choose another folder");
	}
	work = make_hidden(path, "tmp", false,
			   "cannot write to output folder " + path);
}

Output::~Output()
{
	std::error_code error;
	if (!committed)
		fs::remove_all(work, error);
}

std::string Output::file(const std::string &name) const
{
	return work + "/" + name;
}

void Output::commit()
{
	/* mkdtemp and mkstemp made the work private; give it the mode of
	 * anything new: full access less the umask */
	const mode_t mask = umask(0);
	umask(mask);
	chmod(work.c_str(), (folder ? 0777 : 0666) & ~mask);
	/* a folder moves an earlier output aside first, so that a failure
	 * leaves one complete folder in place; a file replaces it at once */
	std::string old;
	std::error_code error;
	if (folder && fs::exists(path, error)) {
		old = make_hidden(path, "old", false, "cannot replace " + path);
		if (rename(path.c_str(), old.c_str()) != 0) {
			const int reason = errno;
			rmdir(old.c_str());
			throw std::runtime_error("cannot replace " + path +
						 ": " + std::strerror(reason));
		}
	}
	if (rename(work.c_str(), path.c_str()) != 0) {
		const int reason = errno;
		if (!old.empty())
			rename(old.c_str(), path.c_str());
		throw std::runtime_error("cannot create " + path + ": " +
					 std::strerror(reason));
	}
	committed = true;
	if (!old.empty())
		fs::remove_all(old, error);
}
