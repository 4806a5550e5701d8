#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include <boost/json/value.hpp>

#include "jsonmodel/JSONModel/JSONHTTPClient.h"
#include "jsonmodel/JSONModel/JSONModel.h"

namespace ambrell {

namespace detail {
void setModelLoading(bool loading);
// Calls `work` on the main queue a millisecond from now.
void afterOneMillisecondOnMainQueue(std::function<void()> work);
}  // namespace detail

// Whether a model is being loaded by initFromURLWithString: one flag for the
// whole process, not one per model.
[[nodiscard]] bool JSONModelIsLoading();

// Loading and posting models of class M over HTTP. Completions run on the main queue.
template <typename M>
class JSONModelNetworking {
public:
    using Completion = std::function<void(std::shared_ptr<M>, std::optional<JSONModelError>)>;

    // Returns an empty model at once and fills it when the JSON arrives (on
    // the main queue: read it only from there, or after the completion). The
    // completion gets the model and the transport error, else the import error.
    static std::shared_ptr<M> initFromURLWithString(const std::string& url, Completion completion) {
        auto model = std::make_shared<M>();
        detail::setModelLoading(true);
        JSONHTTPClient::getJSONFromURLWithString(
            url, [model, completion = std::move(completion)](std::optional<boost::json::value> json,
                                                             std::optional<JSONModelError> error) {
                std::optional<JSONModelError> importError;
                if (json) {
                    model->initWithDictionary(*json, &importError);
                } else {
                    importError = JSONModelError::errorInputIsNil();
                }
                detail::setModelLoading(false);
                if (!completion) return;
                detail::afterOneMillisecondOnMainQueue(
                    [model, completion, failure = error ? std::move(error) : std::move(importError)] {
                        completion(model, failure);
                    });
            });
        return model;
    }

    // A new model of class M from the JSON at the URL.
    static void getModelFromURLWithString(const std::string& url, Completion completion) {
        JSONHTTPClient::getJSONFromURLWithString(url, resultHandler(std::move(completion)));
    }

    // Posts the model's JSON text; the answer becomes a new model of class M.
    static void postModel(const JSONModel& model, const std::string& url, Completion completion) {
        const std::string body = model.toJSONString().value_or("");
        JSONHTTPClient::postJSONFromURLWithString(url, std::string_view(body), resultHandler(std::move(completion)));
    }

private:
    static JSONHTTPClient::JSONCompletion resultHandler(Completion completion) {
        return [completion = std::move(completion)](std::optional<boost::json::value> json,
                                                    std::optional<JSONModelError> error) {
            std::shared_ptr<M> model;
            if (!error) model = M::fromDictionary(json ? &*json : nullptr, &error);
            if (completion) completion(std::move(model), std::move(error));
        };
    }
};

}  // namespace ambrell
