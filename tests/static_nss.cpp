// Stand-ins for the static test tool alone, for the two glibc functions it
// links that look things up through NSS modules, which a static program
// cannot load (and its linker warns so). The guest the tool runs in has
// nothing but /etc/group and no network.
#include <cstdio>
#include <grp.h>
#include <netdb.h>

// As the shipping tool's getgrgid would answer there, from /etc/group.
extern "C" group* getgrgid(gid_t gid) {
    std::FILE* file = std::fopen("/etc/group", "re");
    group* found = nullptr;
    while (file != nullptr && (found = fgetgrent(file)) != nullptr && found->gr_gid != gid) {
    }
    if (file != nullptr) {
        std::fclose(file);
    }
    return found;
}

// No name resolves in a guest without a network; nothing is ever handed
// out, so there is nothing to free.
extern "C" int getaddrinfo(const char*, const char*, const addrinfo*, addrinfo** result) {
    *result = nullptr;
    return EAI_FAIL;
}

extern "C" void freeaddrinfo(addrinfo*) {}
