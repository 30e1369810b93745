#include "network/protocol/NewAliveCheckOption.h"

const NewAliveCheckOption& NewAliveCheckOption::instance() {
    static const NewAliveCheckOption option;
    return option;
}
