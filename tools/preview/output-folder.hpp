/*
 * Outputs that appear whole or not at all: everything is written under a
 * hidden name beside its place, which it takes only once complete.
 */
#pragma once

#include <string>

class OutputFolder {
public:
	/* Checks that `path` may be written (absent, empty, or an earlier
	 * output of this tool) and makes the hidden work folder beside it.
	 * Throws std::runtime_error with a one-line reason. */
	explicit OutputFolder(const std::string &path);
	/* Removes the work folder unless commit() has run. */
	~OutputFolder();
	OutputFolder(const OutputFolder &) = delete;
	OutputFolder &operator=(const OutputFolder &) = delete;

	/* A path inside the work folder. */
	std::string file(const std::string &name) const;
	/* Puts the work folder in the output folder's place. */
	void commit();

	const std::string &final_path() const { return path; }

private:
	std::string path;
	std::string work;
	bool committed = false;
};

class OutputFile {
public:
	/* Makes the hidden file; throws std::runtime_error with a one-line
	 * reason when `path` is a folder or its folder cannot be written. */
	explicit OutputFile(const std::string &path);
	/* Removes the hidden file unless commit() has run. */
	~OutputFile();
	OutputFile(const OutputFile &) = delete;
	OutputFile &operator=(const OutputFile &) = delete;

	const std::string &work_path() const { return work; }
	/* Puts the file in its place, replacing an earlier one. */
	void commit();

private:
	std::string path;
	std::string work;
	bool committed = false;
};
