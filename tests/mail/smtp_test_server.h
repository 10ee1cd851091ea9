// The mail tests' SMTP server (tests/mail/smtp_server.py) as a child
// process on 127.0.0.1: started with a mode, ended when the object goes.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace raid::test {

namespace fs = std::filesystem;

// The test server: a child process that prints its port and ends when its
// standard input closes.
class SmtpServer {
 public:
  explicit SmtpServer(const std::string& mode, const std::vector<std::string>& extra = {}) {
    out_ = (std::filesystem::temp_directory_path() /
            ("raidgui-smtp-" + mode + "-" + std::to_string(::getpid()) + ".jsonl"))
               .string();
    fs::remove(out_);
    int in[2], outp[2];
    if (::pipe(in) != 0 || ::pipe(outp) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(in[0], 0);
      ::dup2(outp[1], 1);
      ::close(in[1]);
      ::close(outp[0]);
      std::vector<std::string> args = {"/usr/bin/python3", RAID_SMTP_SERVER, mode, out_};
      args.insert(args.end(), extra.begin(), extra.end());
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(outp[1]);
    stdin_ = in[1];
    std::string line;
    char c;
    while (::read(outp[0], &c, 1) == 1 && c != '\n') line += c;
    ::close(outp[0]);
    if (line.rfind("PORT ", 0) == 0) port = std::stoi(line.substr(5));
  }
  ~SmtpServer() {
    if (stdin_ >= 0) ::close(stdin_);
    if (pid_ > 0) {
      int st = 0;
      ::waitpid(pid_, &st, 0);
    }
    fs::remove(out_);
    fs::remove(out_ + ".logins");
  }
  std::vector<nlohmann::json> Mails() const {
    std::vector<nlohmann::json> v;
    std::ifstream in(out_);
    for (std::string l; std::getline(in, l);) v.push_back(nlohmann::json::parse(l));
    return v;
  }
  int port = 0;

 private:
  std::string out_;
  pid_t pid_ = -1;
  int stdin_ = -1;
};

}  // namespace raid::test
