#include "claim/process_claim.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QByteArray>
#include <QCryptographicHash>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace trv4 {

namespace {

// sun_path less its leading NUL.
constexpr std::size_t kClaimNameMax = sizeof(sockaddr_un::sun_path) - 1;

std::string claimScope() {
  const char* scope = std::getenv("TRV4_CLAIM_SCOPE");
  return scope ? scope : "";
}

}  // namespace

std::string claimName(const std::string& kind, const std::string& value) {
  const std::string scope = claimScope();
  std::string name = "trv4/" + scope + "/" + kind + "/" + value;
  if (name.size() <= kClaimNameMax) return name;
  // A long folder or client id: the whole scope and value hashed, so two that differ only at
  // their ends stay apart.
  const std::string whole = scope + '\0' + value;
  const QByteArray hash =
      QCryptographicHash::hash(QByteArray(whole.data(), static_cast<qsizetype>(whole.size())),
                               QCryptographicHash::Sha256)
          .toHex();
  name = "trv4/" + kind.substr(0, 32) + "/#" + hash.toStdString();
  return name;
}

ProcessClaim::ProcessClaim(const std::string& kind, const std::string& value) {
  const std::string name = claimName(kind, value);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path + 1, name.data(), name.size());
  fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) {
    outcome_ = ClaimOutcome::kFailed;
    error_ = std::strerror(errno);
    return;
  }
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  if (::bind(fd_, reinterpret_cast<const sockaddr*>(&address), length) == 0) {
    outcome_ = ClaimOutcome::kTaken;
    return;
  }
  const int error = errno;
  release();
  outcome_ = error == EADDRINUSE ? ClaimOutcome::kHeldElsewhere : ClaimOutcome::kFailed;
  if (outcome_ == ClaimOutcome::kFailed) error_ = std::strerror(error);
}

ProcessClaim::~ProcessClaim() {
  release();
}

ProcessClaim::ProcessClaim(ProcessClaim&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      outcome_(std::exchange(other.outcome_, ClaimOutcome::kNone)),
      error_(std::move(other.error_)) {}

ProcessClaim& ProcessClaim::operator=(ProcessClaim&& other) noexcept {
  if (this != &other) {
    release();
    fd_ = std::exchange(other.fd_, -1);
    outcome_ = std::exchange(other.outcome_, ClaimOutcome::kNone);
    error_ = std::move(other.error_);
  }
  return *this;
}

void ProcessClaim::release() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

}  // namespace trv4
