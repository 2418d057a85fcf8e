#include "process.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace tarnwhistle::testkit {

Process::Process(const Invocation& run) {
  std::vector<char*> argv{const_cast<char*>(run.program.c_str())};
  for (const std::string& arg : run.args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  const std::string out_path = run.stdout_file.empty() ? logs_ / "stdout" : run.stdout_file;
  const std::string err_path = logs_ / "stderr";
  int pipe_ends[2];
  if (::pipe(pipe_ends) != 0) return;
  pid_ = ::fork();
  if (pid_ != 0) {
    ::close(pipe_ends[0]);
    // The program may stop reading before the end: a closed pipe is then no failure here.
    ::signal(SIGPIPE, SIG_IGN);
    for (std::size_t done = 0; done < run.input.size();) {
      ssize_t put = ::write(pipe_ends[1], run.input.data() + done, run.input.size() - done);
      if (put <= 0) break;
      done += static_cast<std::size_t>(put);
    }
    if (run.keep_input_open) {
      input_ = pipe_ends[1];
    } else {
      ::close(pipe_ends[1]);
    }
    return;
  }
  // The child: only async-signal-safe calls from here, and never back into the tests.
  int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (out < 0 || err < 0 || ::dup2(pipe_ends[0], 0) < 0 || ::close(pipe_ends[1]) != 0 || ::dup2(out, 1) < 0 ||
      ::dup2(err, 2) < 0) {
    ::_exit(126);
  }
  if (run.stdout_closed) ::close(1);
  if (::chdir(run.folder.c_str()) != 0) ::_exit(126);
  if (run.folder_removed && ::rmdir(run.folder.c_str()) != 0) ::_exit(126);
  rlimit limit{run.file_size_limit, run.file_size_limit};
  if (run.file_size_limit != RLIM_INFINITY && ::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(126);
  if (run.user) {
    const gid_t group = *run.user;  // the users the tests take (nobody, daemon) have a group of their number
    if (::setgroups(0, nullptr) != 0 || ::setresgid(group, group, group) != 0 ||
        ::setresuid(*run.user, *run.user, *run.user) != 0) {
      ::_exit(126);
    }
  }
  ::execv(argv[0], argv.data());
  ::_exit(127);
}

Ran Process::Finish(int seconds) {
  Ran outcome;
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (::waitpid(pid_, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      outcome.hung = true;
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (WIFEXITED(status)) outcome.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) outcome.signal = WTERMSIG(status);
  if (input_ >= 0) ::close(input_);
  outcome.out = ReadAll(logs_ / "stdout");
  outcome.err = ReadAll(logs_ / "stderr");
  return outcome;
}

}  // namespace tarnwhistle::testkit
