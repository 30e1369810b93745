#include "network/protocol/Login.h"

#include "network/protocol/WireText.h"

Login::Login() : Login("", "") {}

Login::Login(const char* user, const char* password) {
    WireText::assign(_user, FieldSize, user);
    WireText::assign(_password, FieldSize, password);
}
