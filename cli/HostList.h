// The units of a many-unit run: the --hosts file (one address per line, '#' starts a comment)
// and the {host} pattern of the files each unit gets.
#pragma once
#include <string>
#include <vector>

// Appends the addresses of the file's lines to *hosts; false with *error (translated, naming the
// file and the line) when the file cannot be read or a line holds more than one word.
bool HostListRead(const std::string& path, std::vector<std::string>* hosts, std::string* error);

// pattern with every "{host}" replaced by host.
std::string HostPatternApply(const std::string& pattern, const std::string& host);
