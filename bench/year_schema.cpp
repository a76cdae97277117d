// Makes the results schema on a server as a station's first contact does
// (for bench/year_bench.sh, which then loads rows into it with COPY).
//
//     year_schema postgresql://USER@HOST:PORT/DB
#include <cstdio>

#include "postgres_store.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: year_schema postgresql://USER@HOST:PORT/DB\n");
        return 2;
    }
    std::string error;
    const auto store = results::PostgresStore::Open(
        argv[1], results::PostgresStore::Mode::ReadWrite, {}, &error);
    if (store == nullptr) {
        std::fprintf(stderr, "year_schema: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
