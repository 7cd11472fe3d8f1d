// A node's private parameters as the product's configuration file sets them.
#pragma once

#include <map>
#include <string>
#include <vector>

// The product's YAML file (config/<config>.yaml), with "product" overridden
// (or removed when `product` is empty).
std::map<std::string, std::string> product_params(const std::string& config, const std::string& product);
// The same parameters as private-parameter arguments ("_name:=value").
std::vector<std::string> private_param_args(const std::map<std::string, std::string>& params);
