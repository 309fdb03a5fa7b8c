// stand-in until dialing, answer, login and logout exist
#include "ports/modem.h"

#include "core/fmt.h"
#include "ports/com.h"

int answer(int) {
    return aberr("Answer mode is not built yet\r\n");
}
int docall(const char*, int) {
    return aberr("Dialing is not built yet\r\n");
}
int hangcmd() {
    return aberr("Hang-up is not built yet\r\n");
}
int dologin() {
    return aberr("Login scripts are not built yet\r\n");
}
int dologout() {
    return aberr("Logout scripts are not built yet\r\n");
}
