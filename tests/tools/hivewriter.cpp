// A second process for the store's crash and concurrency tests. It writes through the real
// store into the hive under $XDG_CONFIG_HOME, key HKEY_CURRENT_USER\Software\Zan\Tavlin.
//
//   hivewriter count NAME START   writes START, START+1, ... to NAME until killed, printing
//                                 each number once its save has returned
//   hivewriter many PREFIX N      writes N values PREFIX0..PREFIX<N-1>, then exits
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <QString>

#include "registry/registrymanager.h"

namespace {

tavlin::RegistryManager settingsKey() {
    tavlin::RegistryManager rm;
    rm.setUseAutoAppSubKeys(true);
    rm.setCompanyName(QStringLiteral("Zan"));
    rm.setApplication(QStringLiteral("Tavlin"));
    return rm;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4)
        return 2;
    const QString name = QString::fromLocal8Bit(argv[2]);
    const long number = std::strtol(argv[3], nullptr, 10);
    tavlin::RegistryManager rm = settingsKey();
    if (std::strcmp(argv[1], "count") == 0) {
        for (long i = number;; ++i) {
            if (!rm.WriteValue(name, QString::number(i), tavlin::regtype::Sz))
                return 1;
            std::printf("%ld\n", i);
            std::fflush(stdout);
        }
    }
    if (std::strcmp(argv[1], "many") == 0) {
        for (long i = 0; i < number; ++i) {
            if (!rm.WriteValue(name + QString::number(i), QString::number(i), tavlin::regtype::Sz))
                return 1;
        }
        return 0;
    }
    return 2;
}
