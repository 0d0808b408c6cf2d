/*
 * Outputs that appear whole or not at all: a folder or a file is written
 * under a hidden name beside its place, which it takes only once complete.
 */
#pragma once

#include <string>

class Output {
public:
	/* Makes the hidden work folder or file beside `path`. A folder's
	 * `path` must be absent, empty or an earlier output of this tool; a
	 * file's must not be a folder. Throws std::runtime_error with a
	 * one-line reason. */
	Output(const std::string &path, bool folder);
	/* Removes the work folder or file unless commit() has run. */
	~Output();
	Output(const Output &) = delete;
	Output &operator=(const Output &) = delete;

	const std::string &work_path() const { return work; }
	const std::string &final_path() const { return path; }
	/* A path inside a work folder. */
	std::string file(const std::string &name) const;
	/* Puts the work folder or file in its place, replacing an earlier
	 * output. */
	void commit();

private:
	std::string path;
	std::string work;
	bool folder;
	bool committed = false;
};
