#pragma once
#include <string>

// The library forms certificate paths as "<executable folder>" followed by the
// configured value. This gives the value ("\..\..\tmp\x.pem") that leads from
// the executable's folder to the absolute `path`, or an empty string when
// none does (a Windows path on another drive than the executable).
namespace devkit {

std::string ExeRelativePath(const std::string& path);

// The executable's folder, without a trailing separator.
std::string ExeFolder();

}  // namespace devkit
