// pelmark-register-port: makes a COM port that Wine maps to a host device
// visible to port discovery, the way a port driver's installation does on
// Windows.
//
//   pelmark-register-port COM5 "Pelmark virtual device (COM5)"   -> prints the instance id
//   pelmark-register-port --remove ROOT\PELMARKPORT\0000
#include <cstdio>
#include <cstring>
#include <string>

#include "port_devices.h"

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--remove") == 0) {
        if (pelmark::test::RemovePortDevice(argv[2])) return 0;
        std::fprintf(stderr, "pelmark-register-port: %s is not there\n", argv[2]);
        return 1;
    }
    if (argc != 3) {
        std::fprintf(stderr, "usage: pelmark-register-port COMn FRIENDLY-NAME | --remove INSTANCE-ID\n");
        return 2;
    }
    std::string error;
    const std::string id = pelmark::test::RegisterPortDevice("PELMARKPORT", argv[1], argv[2], &error);
    if (id.empty()) {
        std::fprintf(stderr, "pelmark-register-port: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", id.c_str());
    return 0;
}
