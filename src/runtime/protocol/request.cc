#include "runtime/protocol/request.h"

#include "runtime/protocol/request_filter.h"

namespace talvo::protocol {

Status Interface::addOperation(std::string_view signature,
                               OperationHandler handler) {
  Operation op;
  op.handler = std::move(handler);
  return add(signature, std::move(op));
}

Status Interface::addDeferredOperation(std::string_view signature,
                                       DeferredHandler handler) {
  Operation op;
  op.deferred = std::move(handler);
  return add(signature, std::move(op));
}

Status Interface::add(std::string_view signature, Operation op) {
  if (Status st = parseSignature(signature, op.signature)) return st;
  std::string name = op.signature.operation;
  if (!operations_.emplace(name, std::move(op)).second) {
    return fail<CORBA::BAD_PARAM>(10020, name);
  }
  return nullptr;
}

const Operation* Interface::find(std::string_view operation) const {
  auto it = operations_.find(operation);
  return it == operations_.end() ? nullptr : &it->second;
}

void ObjectTable::add(std::string marker,
                      std::shared_ptr<const Interface> object) {
  std::pair<std::string, std::string> key(object->name(), std::move(marker));
  objects_[std::move(key)] = std::move(object);
}

bool ObjectTable::remove(std::string_view interface_name,
                         std::string_view marker) {
  auto it = objects_.find(
      std::pair<std::string, std::string>(interface_name, marker));
  if (it == objects_.end()) return false;
  objects_.erase(it);
  return true;
}

const Interface* ObjectTable::find(std::string_view interface_name,
                                   std::string_view marker) const {
  auto it = objects_.find(
      std::pair<std::string, std::string>(interface_name, marker));
  return it == objects_.end() ? nullptr : it->second.get();
}

void FilterChain::add(std::shared_ptr<RequestFilter> filter) {
  filters_.push_back(std::move(filter));
}

bool FilterChain::run(FilterPoint point, Request& request) {
  CORBA::Environment& env = request.env;
  for (const auto& filter : filters_) {
    if (env.kind() != CORBA::Environment::kNone) return false;
    bool pass = false;
    try {
      switch (point) {
        case FilterPoint::kOutRequestPreMarshal:
          pass = filter->outRequestPreMarshal(request, env);
          break;
        case FilterPoint::kOutRequestPostMarshal:
          pass = filter->outRequestPostMarshal(request, env);
          break;
        case FilterPoint::kInRequestPreMarshal:
          pass = filter->inRequestPreMarshal(request, env);
          break;
        case FilterPoint::kInRequestPostMarshal:
          pass = filter->inRequestPostMarshal(request, env);
          break;
        case FilterPoint::kOutReplyPreMarshal:
          pass = filter->outReplyPreMarshal(request, env);
          break;
        case FilterPoint::kOutReplyPostMarshal:
          pass = filter->outReplyPostMarshal(request, env);
          break;
        case FilterPoint::kInReplyPreMarshal:
          pass = filter->inReplyPreMarshal(request, env);
          break;
        case FilterPoint::kInReplyPostMarshal:
          pass = filter->inReplyPostMarshal(request, env);
          break;
      }
    } catch (const CORBA::Exception& e) {
      e.record(env);
      return false;
    }
    if (!pass) {
      CORBA::FILTER_SUPPRESS(kMinorFilterSuppress, CORBA::COMPLETED_NO)
          .record(env);
      return false;
    }
  }
  return env.kind() == CORBA::Environment::kNone;
}

std::shared_ptr<Completion> Request::defer() {
  if (deferred_ || !defer_hook) return nullptr;
  std::shared_ptr<Completion> done = defer_hook();
  deferred_ = done != nullptr;
  return done;
}

void FilterChain::runFailure(Request& request) {
  for (const auto& filter : filters_) {
    if (request.deferred()) return;
    try {
      filter->failure(request, request.env);
    } catch (const CORBA::Exception& e) {
      e.record(request.env);
    }
  }
}

}  // namespace talvo::protocol
