#include "app/common/command_line.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <set>
#include <utility>
#include <sstream>

namespace raid {

namespace {

// The help in the programs' own layout: an option's value is named as the
// table names it ("--simulate [SCENARIO]", "--period 10|30|60|180"), with no
// defaults, environment or type badges (the description says them).
class HelpFormat final : public CLI::Formatter {
 public:
  // notes: a line added to an option's description in the program's help.
  explicit HelpFormat(const std::map<const CLI::Option*, std::string>* notes = nullptr) : notes_(notes) {
    column_width(30);
    label("SUBCOMMAND", "COMMAND");
    label("SUBCOMMANDS", "COMMANDS");
    label("Subcommands", "Commands");
  }
  std::string make_option_opts(const CLI::Option* opt) const override {
    if (!opt->get_option_text().empty()) return " " + opt->get_option_text();
    if (opt->get_type_size() == 0 || opt->get_type_name().empty()) return "";
    return " " + opt->get_type_name() + (opt->get_expected_max() > 1 ? " (repeatable)" : "");
  }
  std::string make_option_desc(const CLI::Option* opt) const override {
    if (notes_ != nullptr)
      if (const auto it = notes_->find(opt); it != notes_->end()) return opt->get_description() + "\n" + it->second;
    return opt->get_description();
  }

 private:
  const std::map<const CLI::Option*, std::string>* notes_;
};

// What an optional value reads as when it is left out.
constexpr const char* kLeftOut = "\x1f(left out)";

bool LooksLikeAnOption(const std::string& v) {
  return v.size() >= 2 && v[0] == '-' && (v[1] == '-' || std::isalpha(static_cast<unsigned char>(v[1])));
}

std::string LongName(const CLI::Option* o) {
  if (o->get_positional()) return o->get_name(true, false);
  return o->get_lnames().empty() ? "-" + o->get_snames().front() : "--" + o->get_lnames().front();
}

// Every long (or only) name an option answers to.
std::vector<std::string> NamesOf(const CLI::Option* o) {
  std::vector<std::string> names;
  for (const std::string& n : o->get_lnames()) names.push_back("--" + n);
  for (const std::string& n : o->get_snames()) names.push_back("-" + n);
  return names;
}

const CLI::Option* FindOption(const CLI::App* app, const std::string& name) {
  for (const CLI::App* a = app; a != nullptr; a = a->get_parent()) {
    for (const CLI::Option* o : a->get_options()) {
      if (o->get_positional()) continue;
      const std::vector<std::string> names = NamesOf(o);
      if (std::find(names.begin(), names.end(), name) != names.end()) return o;
    }
  }
  return nullptr;
}

// An option's line in the help: its names, its value and what it does.
std::string OptionLine(const CLI::Option* o, const std::string& indent, size_t width) {
  std::ostringstream line;
  CLI::detail::format_help(line, indent + o->get_name(false, true) + HelpFormat().make_option_opts(o),
                           o->get_description(), width);
  return line.str();
}

}  // namespace

CLI::App* CommandLine::Deepest() const {
  CLI::App* at = root_.get();
  while (!at->get_subcommands().empty()) at = at->get_subcommands().back();
  return at;
}

CommandLine::CommandLine(std::string program, const std::string& summary)
    : program_(std::move(program)), root_(std::make_unique<CLI::App>(summary, program_)) {
  root_->formatter(std::make_shared<HelpFormat>(&notes_));
  root_->set_help_flag("-h,--help", "print this help and end");
  // Words and options not in the table are collected and named after the
  // parse (as "unknown option" or "unexpected"), not thrown mid-way.
  root_->allow_extras();
  // A command's options and the program's are both taken after it.
  root_->fallthrough();
  root_->require_subcommand(0, 1);
  // An option given twice is found after the parse, with its name.
  root_->option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

CommandLine::~CommandLine() = default;

void CommandLine::SetVersion(const std::string& text) {
  root_->set_version_flag("--version", text, "print the version and end");
}

CLI::App& CommandLine::Command(CLI::App& parent, const std::string& name, const std::string& help) {
  CLI::App* sub = parent.add_subcommand(name, help);
  sub->require_subcommand(0, 1);
  // The heading of the list in the help.
  sub->group("Commands");
  return *sub;
}

CLI::Option* CommandLine::Value(CLI::App& on, const std::string& names, std::string& into, const std::string& valueName,
                                const std::string& help) {
  return on.add_option(names, into, help)->type_name(valueName)->allow_extra_args(false);
}

CLI::Option* CommandLine::OptionalValue(CLI::App& on, const std::string& names, std::string& into, bool& given,
                                        const std::string& valueName, const std::string& help) {
  CLI::Option* o = on.add_option_function<std::string>(
      names,
      [&into, &given](const std::string& v) {
        into = v == kLeftOut ? "" : v;
        given = true;
      },
      help);
  // A value left out reads as kLeftOut, so that an empty one given
  // (--simulate "") is told from it and refused.
  return o->expected(0, 1)
      ->type_name(valueName)
      ->option_text("[" + valueName + "]")
      ->allow_extra_args(false)
      ->default_str(kLeftOut);
}

CLI::Option* CommandLine::Values(CLI::App& on, const std::string& names, std::vector<std::string>& into,
                                 const std::string& valueName, const std::string& help) {
  CLI::Option* o = on.add_option(names, into, help)->type_name(valueName)->allow_extra_args(false);
  o->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)->expected(1)->option_text(valueName + " (repeatable)");
  return o;
}

CLI::Option* CommandLine::Choice(CLI::App& on, const std::string& names, std::string& into,
                                 const std::vector<std::string>& words, const std::string& help) {
  CLI::Option* o = Value(on, names, into, CLI::detail::join(words, "|"), help);
  words_[o] = words;
  return o;
}

CLI::Option* CommandLine::Flag(CLI::App& on, const std::string& names, bool& into, const std::string& help) {
  // --flag=value is a mistake, not a way to switch it off.
  CLI::Option* o = on.add_flag(names, into, help)->disable_flag_override();
  flags_.insert(o);
  return o;
}

CLI::Option* CommandLine::Word(CLI::App& on, const std::string& name, std::string& into,
                               const std::vector<std::string>& words, const std::string& help) {
  // allow_extra_args(false): a word written "[a,b]" is that word, not a list.
  CLI::Option* o = on.add_option(name, into, help)->allow_extra_args(false);
  o->type_name(words.empty() ? name : CLI::detail::join(words, "|"));
  words_[o] = words;
  return o;
}

void CommandLine::TakenOnlyBy(const CLI::Option* option, const std::vector<std::string>& commands) {
  takenOnlyBy_[option] = {commands.begin(), commands.end()};
  // The program's help says which commands take it, the shorter way.
  std::vector<std::string> others;
  for (const CLI::App* c : root_->get_subcommands({}))
    if (std::find(commands.begin(), commands.end(), c->get_name()) == commands.end()) others.push_back(c->get_name());
  notes_[option] = others.size() < commands.size() ? "(not with " + CLI::detail::join(others, ", ") + ")"
                                                   : "(with " + CLI::detail::join(commands, ", ") + ")";
}

bool CommandLine::Takes(const std::string& command, const CLI::Option* o) const {
  const auto it = takenOnlyBy_.find(o);
  return command.empty() || it == takenOnlyBy_.end() || it->second.count(command) != 0;
}

bool CommandLine::IsFlag(const CLI::Option* o) const {
  return flags_.count(o) != 0 || o->get_name(false, true).find("--help") != std::string::npos ||
         o->get_name(false, true) == "--version";
}

CommandLineEnd CommandLine::Parse(const std::vector<std::string>& args) {
  CommandLineEnd end;
  // CLI11 takes the words after the program's name, last first.
  // "--opt=" gives an empty value (CLI11 would take the next word instead).
  // "-o=out" is -o with "out" (CLI11 would take "=out"). A value given
  // after '=' may start with '-'; one given as the next word may not.
  // The words after "--" are kept from CLI11, which would read them as
  // options again after a command without words of its own, or lose the
  // "--" to an option whose value may be left out (--simulate --).
  std::vector<std::string> words, plain;
  std::set<std::string> joined;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--") {
      plain.assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
      break;
    }
    const size_t eq = a.find('=');
    if (a.size() < 3 || a[0] != '-' || eq == std::string::npos) {
      words.push_back(a);
    } else if (const std::string name = a.substr(0, eq); name == "-h" || name == "--help" || name == "--version") {
      // CLI11 would answer these before it looked at the value.
      end.exit = kUsageExitCode;
      end.error = name + " takes no value";
      return end;
    } else if (a[1] != '-' && eq == 2) {
      words.push_back(a.substr(0, 2));
      words.push_back(a.substr(3));
      joined.insert(words.back());
    } else if (a[1] == '-' && eq == a.size() - 1) {
      words.push_back(a.substr(0, a.size() - 1));
      words.emplace_back();
    } else {
      words.push_back(a);
      joined.insert(a.substr(eq + 1));
    }
  }
  std::vector<std::string> reversed(words.rbegin(), words.rend());
  try {
    root_->parse(reversed);
  } catch (const CLI::CallForHelp&) {
    end.exit = 0;
    // The program's own --help lists everything; a command's, that command.
    const bool command = !root_->get_subcommands().empty();
    end.out = command ? root_->help() + ProgramOptionsHelp() : Help();
    return end;
  } catch (const CLI::CallForVersion& e) {
    end.exit = 0;
    end.out = std::string(e.what()) + "\n";
    return end;
  } catch (const CLI::ArgumentMismatch& e) {
    // "--trace: 1 required FILE missing", "--json: ..." said as this
    // program says its mistakes.
    const std::string what = e.what();
    std::string name = what.substr(0, what.find_first_of(": "));
    const CLI::Option* o = FindOption(Deepest(), name);
    if (o == nullptr && (o = FindOption(Deepest(), "--" + name)) != nullptr) name = "--" + name;
    end.exit = kUsageExitCode;
    if (o != nullptr && IsFlag(o))
      end.error = name + " takes no value";
    else if (o != nullptr)
      end.error = name + " needs a value: " + o->get_type_name();
    else
      end.error = what;
    return end;
  } catch (const CLI::ParseError& e) {
    end.exit = kUsageExitCode;
    end.error = e.what();
    return end;
  }
  end.exit = kUsageExitCode;
  const std::vector<std::string> commands = Commands();
  std::string path;
  for (const std::string& c : commands) path += (path.empty() ? "" : " ") + c;
  const std::vector<std::string> extra = root_->remaining(true);
  if (!extra.empty()) {
    const std::string& w = extra.front();
    const bool option = LooksLikeAnOption(w) || w.rfind("--", 0) == 0;
    end.error = option ? "unknown option \"" + w.substr(0, w.find('=')) + "\"" : "unexpected \"" + w + "\"";
    if (!path.empty()) end.error += (option ? " of " : " after ") + path;
    return end;
  }
  // The words after "--" fill the chosen command's words left open, in order.
  CLI::App* chosen = Deepest();
  size_t next = 0;
  for (CLI::Option* o : chosen->get_options([](const CLI::Option* w) { return w->get_positional(); })) {
    if (next == plain.size() || o->count() != 0) continue;
    o->add_result(plain[next++]);
    try {
      o->run_callback();
    } catch (const CLI::ParseError& e) {
      end.error = e.what();
      return end;
    }
  }
  if (next < plain.size()) {
    end.error = "unexpected \"" + plain[next] + "\"" + (path.empty() ? "" : " after " + path);
    return end;
  }
  // A program's option given with a command that does not take it.
  for (const CLI::Option* o : root_->get_options())
    if (o->count() > 0 && !commands.empty() && !Takes(commands.front(), o)) {
      end.error = LongName(o) + " is not an option of " + commands.front();
      return end;
    }
  for (const CLI::App* a = Deepest(); a != nullptr; a = a->get_parent()) {
    for (const CLI::Option* o : a->get_options()) {
      if (o->get_positional() || o->count() == 0) continue;
      const bool many = o->get_multi_option_policy() == CLI::MultiOptionPolicy::TakeAll;
      if (o->count() > 1 && !many) {
        end.error = LongName(o) + " is given twice";
        return end;
      }
      if (IsFlag(o)) continue;
      for (const std::string& v : o->results()) {
        if (v.empty() && o->get_expected_min() == 0) {
          end.error = LongName(o) + " takes a " + o->get_type_name() +
                      ", not an empty text (leave the value out for the default)";
          return end;
        }
        if (LooksLikeAnOption(v) && joined.count(v) == 0) {
          end.error = LongName(o) + " needs a value (" + o->get_type_name() + "), not the option \"" + v + "\"";
          return end;
        }
      }
    }
  }
  end.exit = -1;
  return end;
}

std::vector<std::string> CommandLine::Commands() const {
  std::vector<std::string> path;
  for (const CLI::App* a = Deepest(); a != root_.get(); a = a->get_parent()) path.insert(path.begin(), a->get_name());
  return path;
}

bool CommandLine::Given(const std::string& name) const {
  for (const CLI::App* at = Deepest(); at != nullptr; at = at->get_parent()) {
    for (const CLI::Option* o : at->get_options())
      if (!o->get_positional() && o->count() > 0) {
        const std::vector<std::string> names = NamesOf(o);
        if (std::find(names.begin(), names.end(), name) != names.end()) return true;
      }
  }
  return false;
}

std::string CommandLine::ProgramOptionsHelp() const {
  const std::vector<std::string> commands = Commands();
  std::string lines;
  for (const CLI::Option* o : root_->get_options())
    if (!o->get_positional() && o != root_->get_help_ptr() && Takes(commands.empty() ? "" : commands.front(), o))
      lines += OptionLine(o, "", 30);
  return lines.empty() ? "" : "Options of " + program_ + " this command takes:\n" + lines;
}

std::string CommandLine::Help() const {
  std::string text = root_->help("", CLI::AppFormatMode::Normal);
  // Every command with its words and options, and each of its commands.
  std::vector<std::pair<std::string, const CLI::App*>> todo;
  for (const CLI::App* sub : root_->get_subcommands({})) todo.emplace_back(program_ + " " + sub->get_name(), sub);
  for (size_t i = 0; i < todo.size(); ++i) {
    const auto [name, sub] = todo[i];
    std::vector<std::pair<std::string, const CLI::App*>> inner;
    for (const CLI::App* s : sub->get_subcommands({})) inner.emplace_back(name + " " + s->get_name(), s);
    todo.insert(todo.begin() + static_cast<std::ptrdiff_t>(i) + 1, inner.begin(), inner.end());
  }
  // Each command as a heading ("raidctl status [OPTIONS]:"), its
  // description indented by two, then its words and its options by four.
  // help2man reads this layout as one subsection per command with its
  // options as tagged paragraphs, so the manual page keeps it too.
  for (const auto& [name, sub] : todo) {
    std::string head = name, lines;
    bool options = false;
    for (const CLI::Option* o : sub->get_options()) {
      if (o == sub->get_help_ptr()) continue;
      if (o->get_positional()) {
        const std::string word = o->get_name(true, false);
        head += " " + word;
        std::ostringstream line;
        CLI::detail::format_help(line, "  " + word + (o->get_type_name() != word ? " " + o->get_type_name() : ""),
                                 o->get_description(), 32);
        lines += line.str();
        continue;
      }
      options = true;
      lines += OptionLine(o, "  ", 32);
    }
    if (options) head += " [OPTIONS]";
    if (!sub->get_subcommands({}).empty()) head += " COMMAND";
    std::string description = sub->get_description();
    for (size_t p = description.find('\n'); p != std::string::npos; p = description.find('\n', p + 1))
      description.insert(p + 1, "  ");
    text += "\n" + head + ":\n  " + description + "\n" + lines;
  }
  return text;
}

std::vector<std::string> CommandLine::Complete(const std::vector<std::string>& given) const {
  // The shell splits "--opt=value" at '=': join it again.
  std::vector<std::string> words;
  for (size_t i = 0; i < given.size(); ++i) {
    if (given[i] == "=" && !words.empty() && i + 1 < given.size()) {
      words.back() += "=" + given[++i];
    } else if (given[i] == "=" && !words.empty()) {
      words.back() += "=";
    } else {
      words.push_back(given[i]);
    }
  }
  std::string current = words.empty() ? "" : words.back();
  if (!words.empty()) words.pop_back();
  const CLI::App* app = root_.get();
  const CLI::Option* valueOf = nullptr;  // the option the current word is the value of
  size_t wordsTaken = 0;                 // positional words of the current command
  bool plain = false;                    // after "--": words of the command only
  // An option whose value may be left out (--simulate [SCENARIO]): the word
  // after it is its value unless it is a command or an option.
  const CLI::Option* optional = nullptr;
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& w = words[i];
    const CLI::Option* optionalBefore = std::exchange(optional, nullptr);
    if (plain) {
      ++wordsTaken;
      continue;
    }
    if (w == "--") {
      plain = true;
      continue;
    }
    if (w.rfind("-", 0) == 0) {
      const CLI::Option* o = FindOption(app, w.substr(0, w.find('=')));
      const bool takesValue = o != nullptr && !IsFlag(o) && o->get_expected_min() > 0;
      if (takesValue && w.find('=') == std::string::npos) {
        if (i + 1 == words.size()) valueOf = o;
        ++i;
      } else if (o != nullptr && !IsFlag(o) && !takesValue && w.find('=') == std::string::npos) {
        optional = o;
      }
      continue;
    }
    const CLI::App* named = CommandNamed(*app, w);
    if (named == nullptr && optionalBefore != nullptr) continue;  // its value
    if (named != nullptr) {
      app = named;
      wordsTaken = 0;
    } else {
      ++wordsTaken;
    }
  }
  std::string prefix = current;
  if (!plain && current.rfind("-", 0) == 0 && current.find('=') != std::string::npos) {
    valueOf = FindOption(app, current.substr(0, current.find('=')));
    prefix = current.substr(current.find('=') + 1);
    if (valueOf == nullptr || IsFlag(valueOf)) return {};
  }
  std::vector<std::string> out;
  auto offer = [&out, &prefix](const std::string& c) {
    if (c.rfind(prefix, 0) == 0) out.push_back(c);
  };
  auto offerValue = [&](const CLI::Option* o) {
    const auto it = words_.find(o);
    if (it != words_.end() && !it->second.empty()) {
      for (const std::string& w : it->second) offer(w);
    } else if (o->get_type_name() == "DIR") {
      out.push_back("@dir");
    } else if (o->get_type_name().find("FILE") != std::string::npos || o->get_type_name() == "SCENARIO" ||
               o->get_type_name() == "OUT") {
      out.push_back("@file");
    }
  };
  if (valueOf != nullptr) {
    offerValue(valueOf);
    return out;
  }
  if (!plain && current.rfind("-", 0) == 0) {
    // The options the parse takes here: the command's own, and those of
    // the program that the command takes.
    const CLI::App* command = app;
    while (command->get_parent() != nullptr && command->get_parent() != root_.get()) command = command->get_parent();
    const std::string outermost = command == root_.get() ? "" : command->get_name();
    std::set<std::string> seen;
    for (const CLI::App* a = app; a != nullptr; a = a->get_parent())
      for (const CLI::Option* o : a->get_options())
        if (!o->get_positional() && Takes(outermost, o))
          for (const std::string& n : o->get_lnames())
            if (seen.insert("--" + n).second) offer("--" + n);
    return out;
  }
  if (!plain)
    for (const CLI::App* s : app->get_subcommands({})) offer(s->get_name());
  size_t k = 0;
  for (const CLI::Option* o : app->get_options())
    if (o->get_positional() && k++ == wordsTaken) offerValue(o);
  // Right after an option whose value may be left out: its values too
  // (the script adds the files to the words offered).
  if (optional != nullptr && !plain) offerValue(optional);
  return out;
}

const CLI::App* CommandNamed(const CLI::App& parent, const std::string& name) {
  const auto subs = parent.get_subcommands([&name](const CLI::App* s) { return s->get_name() == name; });
  return subs.empty() ? nullptr : subs.front();
}

int PrintCommandLineEnd(const CommandLineEnd& end, const std::string& program) {
  if (end.exit == 0) {
    std::fputs(end.out.c_str(), stdout);
  } else if (end.exit > 0) {
    std::fprintf(stderr, "%s: %s\n%s --help lists every option\n", program.c_str(), end.error.c_str(), program.c_str());
  }
  return end.exit;
}

}  // namespace raid
