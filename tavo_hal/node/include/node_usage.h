// The nodes' answer to -h / --help: a usage with every private parameter the
// node reads, printed before ROS is initialised, so that nothing starts.
#pragma once

#include <string>

namespace node_usage {

enum class Node { kBody, kTeleoperation };

// The usage of `node`, one parameter a line.
std::string usage(Node node);

// True when a word of argv is -h or --help; the usage is then on standard output.
bool answer_help(int argc, char** argv, Node node);

}  // namespace node_usage
