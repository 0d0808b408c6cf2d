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
	auto ends_with = [&](const std::string &suffix) {
		return name.size() >= suffix.size() &&
		       name.compare(name.size() - suffix.size(), suffix.size(),
				    suffix) == 0;
	};
	return (name.rfind("frame-", 0) == 0 && ends_with(".png")) ||
	       ends_with(".gif") || ends_with(".mp4") || ends_with(".webm");
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

/* The mode of a new file or folder: `full` less the umask. */
mode_t new_mode(mode_t full)
{
	const mode_t mask = umask(0);
	umask(mask);
	return full & ~mask;
}

} // namespace

OutputFolder::OutputFolder(const std::string &given) : path(given)
{
	while (path.size() > 1 && path.back() == '/')
		path.pop_back();
	if (path.empty())
		throw std::runtime_error("the output folder name is empty");

	std::error_code error;
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

OutputFolder::~OutputFolder()
{
	std::error_code error;
	if (!committed)
		fs::remove_all(work, error);
}

std::string OutputFolder::file(const std::string &name) const
{
	return work + "/" + name;
}

void OutputFolder::commit()
{
	/* move an earlier output aside first, so that a failure leaves one
	 * complete folder in place */
	std::string old;
	std::error_code error;
	if (fs::exists(path, error)) {
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
	/* mkdtemp made the work folder private; give the result the mode of
	 * any new folder */
	chmod(path.c_str(), new_mode(0777));
	if (!old.empty())
		fs::remove_all(old, error);
}

OutputFile::OutputFile(const std::string &given) : path(given)
{
	std::error_code error;
	if (path.empty() || path.back() == '/' || fs::is_directory(path, error))
		throw std::runtime_error(path +
					 " is a folder, not a file name");
	work = make_hidden(path, "tmp", true, "cannot write " + path);
}

OutputFile::~OutputFile()
{
	if (!committed)
		unlink(work.c_str());
}

void OutputFile::commit()
{
	/* mkstemp made the file private; give it the mode of any new file */
	chmod(work.c_str(), new_mode(0666));
	if (rename(work.c_str(), path.c_str()) != 0)
		throw std::runtime_error("cannot create " + path + ": " +
					 std::strerror(errno));
	committed = true;
}
