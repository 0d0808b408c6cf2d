#include "output-folder.hpp"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace {

std::string parent_of(const std::string &path)
{
	const size_t slash = path.find_last_of('/');
	if (slash == std::string::npos)
		return ".";
	if (slash == 0)
		return "/";
	return path.substr(0, slash);
}

std::string base_of(const std::string &path)
{
	const size_t slash = path.find_last_of('/');
	return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::vector<std::string> entries(const std::string &dir)
{
	std::vector<std::string> names;
	DIR *d = opendir(dir.c_str());
	if (!d)
		return names;
	while (dirent *e = readdir(d)) {
		const std::string name = e->d_name;
		if (name != "." && name != "..")
			names.push_back(name);
	}
	closedir(d);
	return names;
}

/* Removes a folder that holds only plain files. */
void remove_flat_folder(const std::string &dir)
{
	for (const std::string &name : entries(dir))
		unlink((dir + "/" + name).c_str());
	rmdir(dir.c_str());
}

/* The mode of a new file or folder: `full` less the umask. */
mode_t new_mode(mode_t full)
{
	const mode_t mask = umask(0);
	umask(mask);
	return full & ~mask;
}

} // namespace

bool is_preview_output_name(const std::string &name)
{
	auto ends_with = [&](const char *suffix) {
		const size_t n = std::strlen(suffix);
		return name.size() >= n &&
		       name.compare(name.size() - n, n, suffix) == 0;
	};
	return (name.rfind("frame-", 0) == 0 && ends_with(".png")) ||
	       ends_with(".gif") || ends_with(".mp4") || ends_with(".webm");
}

OutputFolder::OutputFolder(const std::string &given) : path(given)
{
	while (path.size() > 1 && path.back() == '/')
		path.pop_back();
	if (path.empty())
		throw std::runtime_error("the output folder name is empty");

	struct stat st;
	if (stat(path.c_str(), &st) == 0) {
		if (!S_ISDIR(st.st_mode))
			throw std::runtime_error("output folder " + path +
						 " exists and is not a folder");
		for (const std::string &name : entries(path))
			if (!is_preview_output_name(name))
				throw std::runtime_error(
					"output folder " + path + " holds " +
					name +
					", which this tool did not write; "
					"choose another folder");
	}

	const std::string parent = parent_of(path);
	std::string pattern = parent + "/." + base_of(path) + ".tmp-XXXXXX";
	std::vector<char> buffer(pattern.begin(), pattern.end());
	buffer.push_back('\0');
	if (!mkdtemp(buffer.data()))
		throw std::runtime_error("cannot write to output folder " +
					 path + ": " + std::strerror(errno));
	work = buffer.data();
}

OutputFolder::~OutputFolder()
{
	if (!committed)
		discard();
}

std::string OutputFolder::file(const std::string &name) const
{
	return work + "/" + name;
}

void OutputFolder::discard()
{
	if (!work.empty() && !committed)
		remove_flat_folder(work);
}

void OutputFolder::commit()
{
	struct stat st;
	std::string old;
	if (stat(path.c_str(), &st) == 0) {
		/* move the earlier output aside first, so that a failure
		 * leaves one complete folder in place */
		std::string pattern =
			parent_of(path) + "/." + base_of(path) + ".old-XXXXXX";
		std::vector<char> buffer(pattern.begin(), pattern.end());
		buffer.push_back('\0');
		if (!mkdtemp(buffer.data()))
			throw std::runtime_error("cannot replace " + path +
						 ": " + std::strerror(errno));
		old = buffer.data();
		if (rename(path.c_str(), old.c_str()) != 0) {
			const int error = errno;
			rmdir(old.c_str());
			throw std::runtime_error("cannot replace " + path +
						 ": " + std::strerror(error));
		}
	}
	if (rename(work.c_str(), path.c_str()) != 0) {
		const int error = errno;
		if (!old.empty())
			rename(old.c_str(), path.c_str());
		throw std::runtime_error("cannot create " + path + ": " +
					 std::strerror(error));
	}
	committed = true;
	/* mkdtemp made the work folder private; give the result the mode of
	 * any new folder */
	chmod(path.c_str(), new_mode(0777));
	if (!old.empty())
		remove_flat_folder(old);
}

OutputFile::OutputFile(const std::string &given) : path(given)
{
	struct stat st;
	if (path.empty() || path.back() == '/' ||
	    (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)))
		throw std::runtime_error(path +
					 " is a folder, not a file name");
	std::string pattern =
		parent_of(path) + "/." + base_of(path) + ".tmp-XXXXXX";
	std::vector<char> buffer(pattern.begin(), pattern.end());
	buffer.push_back('\0');
	const int fd = mkstemp(buffer.data());
	if (fd < 0)
		throw std::runtime_error("cannot write " + path + ": " +
					 std::strerror(errno));
	close(fd);
	work = buffer.data();
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
