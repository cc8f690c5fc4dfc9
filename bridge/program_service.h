// program_service.h: the bridge's FastCGI service: it runs the Windows CGI
// programs that its command line names (--program, --programs) and no
// other.
#ifndef WHIRLO_BRIDGE_PROGRAM_SERVICE_H
#define WHIRLO_BRIDGE_PROGRAM_SERVICE_H

#include <memory>
#include <string>
#include <vector>

#include "program_run.h"
#include "service_command.h"

namespace bridge {

class ProgramService : public ServiceFront {
 public:
  const char* name() const override { return "wincgi-bridge"; }
  std::string usage() const override;
  bool take_option(const std::string& option, const std::string& value,
                   bool& known, std::string& problem) override;
  bool prepare(ServiceOptions& options, std::string& problem) override;
  std::string serving(const ServiceOptions& options) const override;
  bool uses_private_folders() const override { return true; }
  RunMaker& maker(const ServiceOptions& options) override;

 private:
  std::vector<std::string> programs_;         // --program, as given
  std::vector<std::string> program_folders_;  // --programs, as given
  std::unique_ptr<ProgramRunMaker> maker_;
};

}  // namespace bridge

#endif  // WHIRLO_BRIDGE_PROGRAM_SERVICE_H
