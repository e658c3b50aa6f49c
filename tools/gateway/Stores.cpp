#include "tools/gateway/Config.h"
#include "tools/gateway/Store.h"

namespace vesk::gateway {

std::unique_ptr<Store> OpenStore(const StoreSettings& settings, StoreOptions options) {
  options.synchronous = settings.synchronous;
  if (settings.postgres) return OpenPostgresStore(settings.url, options);
  options.path = settings.path;
  return OpenSqliteStore(options);
}

}  // namespace vesk::gateway
