#pragma once
#include <string>

// The library forms certificate paths as "<executable folder>" followed by the
// configured value. This gives the value ("\..\..\tmp\x.pem") that leads from
// the executable's folder to the absolute `path`.
namespace devkit {

std::string ExeRelativePath(const std::string& path);

}  // namespace devkit
