#include "child_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace {
std::string read_file(const std::string& path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string make_temp_dir() {
  char tmpl[] = "/tmp/tavo_test.XXXXXX";
  if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
  return tmpl;
}
}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args)
    : ChildProcess(program, args, Options{}) {}

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args, const Options& options) {
  char out_tmpl[] = "/tmp/tavo_child_out.XXXXXX";
  char err_tmpl[] = "/tmp/tavo_child_err.XXXXXX";
  int out_fd = mkstemp(out_tmpl);
  int err_fd = mkstemp(err_tmpl);
  if (out_fd < 0 || err_fd < 0) throw std::runtime_error("mkstemp failed");
  out_path_ = out_tmpl;
  err_path_ = err_tmpl;
  int in_pipe[2] = {-1, -1};
  if (options.stdin_pipe && pipe(in_pipe) != 0) throw std::runtime_error("pipe failed");

  std::vector<std::string> argv_store{program};
  argv_store.insert(argv_store.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argv_store) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  const pid_t parent = getpid();
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    setpgid(0, 0);
    // A test that dies without its destructors (a sanitizer abort, a crash)
    // takes its children with it instead of leaving them running.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(125);
    for (const auto& kv : options.env) setenv(kv.first.c_str(), kv.second.c_str(), 1);
    if (!options.workdir.empty() && chdir(options.workdir.c_str()) != 0) _exit(126);
    if (options.stdin_pipe) {
      dup2(in_pipe[0], 0);
      close(in_pipe[0]);
      close(in_pipe[1]);
    } else {
      int null_fd = open("/dev/null", O_RDONLY);
      dup2(null_fd, 0);
      close(null_fd);
    }
    dup2(out_fd, 1);
    dup2(err_fd, 2);
    close(out_fd);
    close(err_fd);
    execvp(argv[0], argv.data());
    std::fprintf(stderr, "exec %s: %s\n", argv[0], std::strerror(errno));
    _exit(127);
  }
  close(out_fd);
  close(err_fd);
  if (options.stdin_pipe) {
    close(in_pipe[0]);
    stdin_fd_ = in_pipe[1];
  }
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && status_ < 0) stop(std::chrono::milliseconds(3000));
  close_stdin();
  unlink(out_path_.c_str());
  unlink(err_path_.c_str());
}

bool ChildProcess::running() {
  if (status_ >= 0) return false;
  int st = 0;
  pid_t r = waitpid(pid_, &st, WNOHANG);
  if (r == pid_) {
    status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    return false;
  }
  return true;
}

void ChildProcess::signal(int sig) {
  if (running()) kill(pid_, sig);
}

int ChildProcess::wait(std::chrono::milliseconds timeout) {
  if (!eventually([this] { return !running(); }, timeout)) return -1;
  return status_;
}

int ChildProcess::stop(std::chrono::milliseconds grace) {
  if (!running()) return status_;
  kill(pid_, SIGINT);
  int st = wait(grace);
  if (st >= 0) return st;
  kill(-pid_, SIGKILL);
  kill(pid_, SIGKILL);
  return wait(std::chrono::milliseconds(5000));
}

void ChildProcess::write_stdin(const std::string& text) {
  if (stdin_fd_ < 0) return;
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(stdin_fd_, text.data() + done, text.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
}

void ChildProcess::close_stdin() {
  if (stdin_fd_ >= 0) {
    close(stdin_fd_);
    stdin_fd_ = -1;
  }
}

std::string ChildProcess::out() { return read_file(out_path_); }
std::string ChildProcess::err() { return read_file(err_path_); }

std::string tavo_program(const std::string& name) {
  const char* dir = std::getenv("TAVO_BIN_DIR");
  return std::string(dir ? dir : ".") + "/" + name;
}

TempDir::TempDir() : path_(make_temp_dir()) {}
TempDir::~TempDir() {
  std::string cmd = "rm -rf '" + path_ + "'";
  if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", path_.c_str());
}

int free_loopback_port() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t len = sizeof addr;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    if (fd >= 0) close(fd);
    throw std::runtime_error("no free loopback port");
  }
  int port = ntohs(addr.sin_port);
  close(fd);
  return port;
}

PrivateRosMaster::PrivateRosMaster() {
  const int port = free_loopback_port();
  uri_ = "http://127.0.0.1:" + std::to_string(port);
  setenv("ROS_MASTER_URI", uri_.c_str(), 1);
  setenv("ROS_IP", "127.0.0.1", 1);
  unsetenv("ROS_HOSTNAME");
  setenv("PATH", ("/usr/bin:" + std::string(std::getenv("PATH") ? std::getenv("PATH") : "")).c_str(), 1);
  ChildProcess::Options opts;
  master_ = std::make_unique<ChildProcess>("/usr/bin/rosmaster",
                                           std::vector<std::string>{"--core", "-p", std::to_string(port)}, opts);
  // The master is up once its port accepts connections; under software
  // emulation (the VM tier) on a busy machine Python takes its time.
  const bool up = eventually(
      [port] {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(static_cast<uint16_t>(port));
        const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        close(fd);
        return ok;
      },
      std::chrono::milliseconds(60000));
  if (!up) throw std::runtime_error("rosmaster did not come up on " + uri_ + ": " + master_->err());
}
