#pragma once

#include <string>
#include <utility>
#include <vector>

namespace sayloft {

// What the service answers to one request, as the routes decide it; the HTTP layer sends it.
struct HttpAnswer {
    enum class Delivery {
        send,   // send the answer
        reset,  // reset the connection without an answer (fault injection)
        drop,   // close the connection without an answer
    };

    int status = 200;
    std::string body{};
    std::string contentType = "application/json";
    std::vector<std::pair<std::string, std::string>> headers{};  // besides Content-Type
    bool close = false;  // close the connection after the answer
    Delivery delivery = Delivery::send;
};

}  // namespace sayloft
