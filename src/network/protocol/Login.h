#pragma once

// The credentials a session logs in with; each kept to 16 characters, as the login
// request carries them. A value type.
class Login {
public:
    static constexpr int FieldSize = 17;

    Login();
    Login(const char* user, const char* password);

    const char* user() const { return _user; }
    const char* password() const { return _password; }

private:
    char _user[FieldSize];
    char _password[FieldSize];
};
