#include "scratch_program.h"

namespace dravik::test {

void ScratchProgram::AddTestPlugin(const std::string& file_name, const std::string& as_name) {
  CopyFile(TestPluginDir() + file_name, dir_ / (as_name.empty() ? file_name : as_name));
}

void ScratchProgram::AddBuiltPlugin(const std::string& file_name) {
  CopyFile(ProgramDir() + file_name, dir_ / file_name);
}

void ScratchProgram::AddCli() { CopyFile(ProgramDir() + "dravik-cli", cli()); }

void ScratchProgram::AddWindow() { CopyFile(ProgramDir() + "Dravik", window()); }

CommandResult ScratchProgram::RunCli(const std::string& arguments, const std::string& env) const {
  return RunCommand(env + (env.empty() ? "" : " ") + ShellQuote(cli()) + " " + arguments);
}

CommandResult ScratchProgram::RunCliAndSignalWhen(const std::string& arguments,
                                                  const std::string& env,
                                                  const std::function<bool()>& ready,
                                                  int signal) const {
  // exec: the signal goes to dravik-cli itself, not to a shell waiting for it.
  return RunAndSignalWhen("exec env " + env + " " + ShellQuote(cli()) + " " + arguments, ready,
                          signal);
}

std::string Script(const std::vector<std::pair<std::string, std::string>>& lines) {
  std::string text = "DRAVIK-TEST\n";
  for (const auto& [key, value] : lines) text += key + "=" + value + "\n";
  return text;
}

}  // namespace dravik::test
