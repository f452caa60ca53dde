// A name this process holds among every process of the machine, whoever runs them, until it
// lets go or ends, however it ends: a gateway claims what it must not share with another gateway.
//
// A claim is a Unix socket bound under a name in Linux's abstract namespace. Such a name needs no
// file (the units run with ProtectSystem=strict and a dynamic user each, so there is no folder all
// instances may write and no common owner), has no permission bits (a name one user bound is
// refused to every other), and goes with the process's last descriptor, so a gateway killed with
// SIGKILL leaves nothing to clean up. The namespace belongs to the network namespace: a unit given
// PrivateNetwork= would claim alone.
//
// Every name holds $TRV4_CLAIM_SCOPE, so that tests running gateways side by side claim apart.
#pragma once

#include <string>

namespace trv4 {

enum class ClaimOutcome {
  kNone,           // nothing claimed (a claim made empty)
  kTaken,          // this process holds the name
  kHeldElsewhere,  // another process (or another claim of this one) holds it
  kFailed,         // the system refused a socket: error() says why
};

class ProcessClaim {
 public:
  ProcessClaim() = default;
  // kind: what is claimed ("folder", "serial device", ...); value: which one, canonical.
  ProcessClaim(const std::string& kind, const std::string& value);
  ~ProcessClaim();
  ProcessClaim(ProcessClaim&& other) noexcept;
  ProcessClaim& operator=(ProcessClaim&& other) noexcept;
  ProcessClaim(const ProcessClaim&) = delete;
  ProcessClaim& operator=(const ProcessClaim&) = delete;

  ClaimOutcome outcome() const { return outcome_; }
  const std::string& error() const { return error_; }

 private:
  void release();

  int fd_ = -1;
  ClaimOutcome outcome_ = ClaimOutcome::kNone;
  std::string error_;
};

// The abstract socket name of a claim (without the leading NUL): readable (`ss -xl` lists it)
// when it fits, else its value hashed.
std::string claimName(const std::string& kind, const std::string& value);

}  // namespace trv4
