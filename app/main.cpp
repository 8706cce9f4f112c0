#include "app/Studio.h"

int main(int argc, char** argv) {
    return vortigo::runStudio(argc, argv);
}
