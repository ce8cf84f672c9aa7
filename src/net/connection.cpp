#include "net/connection.h"

int TConnection::GetBuffer(char*, unsigned, bool) {
    return 0;
}

bool TConnection::ReportWindowSize(const COORD*) {
    return false;
}
