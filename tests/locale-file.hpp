/*
 * Reads the module's locale files the way a translator writes them:
 * one Key="Text" per line, UTF-8, \n for a line break.
 */
#pragma once

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

struct LocaleEntry {
	int line;
	std::string key;
	std::string raw; /* the text between the quotes, escapes kept */
};

struct LocaleFile {
	bool opened = false;
	std::string bytes;                /* the whole file */
	std::vector<LocaleEntry> entries; /* in file order */
	std::vector<std::string> errors;  /* lines that are not Key="Text" */
};

inline bool is_key_char(char c)
{
	return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
	       (c >= '0' && c <= '9') || c == '.' || c == '_';
}

/* Strict reading: blank lines are allowed, every other line must be
 * Key="Text" with no blanks around the equals sign, no double quote inside
 * the text and no escape other than \n. */
inline LocaleFile read_locale_file(const std::string &path)
{
	LocaleFile file;
	std::ifstream in(path, std::ios::binary);
	if (!in)
		return file;
	file.opened = true;
	std::ostringstream all;
	all << in.rdbuf();
	file.bytes = all.str();

	std::istringstream lines(file.bytes);
	std::string line;
	int number = 0;
	while (std::getline(lines, line)) {
		number++;
		const std::string where = "line " + std::to_string(number);
		if (!line.empty() && line.back() == '\r') {
			file.errors.push_back(where + ": carriage return");
			line.pop_back();
		}
		if (line.empty())
			continue;
		size_t k = 0;
		while (k < line.size() && is_key_char(line[k]))
			k++;
		if (k == 0 || k + 2 > line.size() || line[k] != '=' ||
		    line[k + 1] != '"') {
			file.errors.push_back(where + ": not Key=\"Text\"");
			continue;
		}
		if (line.size() < k + 3 || line.back() != '"') {
			file.errors.push_back(where + ": text not closed");
			continue;
		}
		const std::string raw = line.substr(k + 2, line.size() - k - 3);
		bool good = raw.find('"') == std::string::npos;
		for (size_t i = raw.find('\\'); good && i != std::string::npos;
		     i = raw.find('\\', i + 2))
			good = i + 1 < raw.size() && raw[i + 1] == 'n';
		if (good)
			file.entries.push_back(
				{number, line.substr(0, k), raw});
		else
			file.errors.push_back(
				where + ": double quote or escape other than "
					"\\n in the text");
	}
	return file;
}

inline void replace_all(std::string &s, const std::string &from,
			const std::string &to)
{
	for (size_t at = s.find(from); at != std::string::npos;
	     at = s.find(from, at + to.size()))
		s.replace(at, from.size(), to);
}

/* The text as libobs's text lookup hands it out: it replaces \n, \t, \r
 * and \" in this order. */
inline std::string unescape_like_libobs(std::string text)
{
	replace_all(text, "\\n", "\n");
	replace_all(text, "\\t", "\t");
	replace_all(text, "\\r", "\r");
	replace_all(text, "\\\"", "\"");
	return text;
}

/* Key → text as shown, for the file of one locale in the data folder. */
inline std::map<std::string, std::string>
locale_texts(const std::string &data_dir, const std::string &locale)
{
	std::map<std::string, std::string> texts;
	for (const LocaleEntry &e :
	     read_locale_file(data_dir + "/locale/" + locale + ".ini").entries)
		texts[e.key] = unescape_like_libobs(e.raw);
	return texts;
}
