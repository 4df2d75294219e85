#include "server_account.hpp"

#include <quendelin/build_constants.hpp>

namespace quendelin {

ServerAccount builtInAccount() {
    return ServerAccount{std::string(buildConstants::ftpHost), buildConstants::ftpPort,
                         std::string(buildConstants::ftpUser),
                         std::string(buildConstants::ftpPassword), "zeb"};
}

} // namespace quendelin
