#include "node_config.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>

std::map<std::string, std::string> product_params(const std::string& config, const std::string& product) {
  const char* source_dir = std::getenv("TAVO_SOURCE_DIR");
  if (!source_dir) throw std::runtime_error("TAVO_SOURCE_DIR is not set (run the test through ctest)");
  std::ifstream in(std::string(source_dir) + "/config/" + config + ".yaml");
  std::map<std::string, std::string> params;
  for (std::string line; std::getline(in, line);) {
    const auto colon = line.find(':');
    // Top-level names with a value only: nested blocks (joint_names) keep their defaults.
    if (line.empty() || line[0] == '#' || line[0] == ' ' || colon == std::string::npos) continue;
    const auto value_start = line.find_first_not_of(' ', colon + 1);
    if (value_start == std::string::npos) continue;
    std::string value = line.substr(value_start);
    if (value.size() >= 2 && value.front() == '"') value = value.substr(1, value.size() - 2);
    params[line.substr(0, colon)] = value;
  }
  if (product.empty()) {
    params.erase("product");
  } else {
    params["product"] = product;
  }
  return params;
}

std::vector<std::string> private_param_args(const std::map<std::string, std::string>& params) {
  std::vector<std::string> args;
  for (const auto& kv : params) args.push_back("_" + kv.first + ":=" + kv.second);
  return args;
}
