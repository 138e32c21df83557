// The report of a failed check of the checked-iterator mode.
//
// The check fills an _Error_formatter with where it failed, one message of
// the catalogue and up to nine parameters describing the objects involved,
// then calls _M_error, which prints the report on standard error and aborts:
//
//   _Error_formatter(__FILE__, __LINE__, __PRETTY_FUNCTION__)
//       ._M_iterator(&it, "it", &typeid(it), __mutable_iterator, __end,
//                    &seq, &typeid(seq))
//       ._M_message(25)
//       ._M_error();
//
// Messages refer to the parameters as "%1;" (the whole parameter) or
// "%1.state;" (one field), and "%%" stands for a percent sign.
#pragma once

#include <cstdint>
#include <typeinfo>

namespace __zeb_debug {

// Where an iterator stands, as printed in reports.
enum _Iterator_state {
  __unknown_state,
  __singular,
  __begin,
  __middle,
  __end,
  __before_begin,
  __rbegin,
  __rmiddle,
  __rend,
  __singular_value_init,
  __last_state
};

enum _Constness {
  __unknown_constness,
  __const_iterator,
  __mutable_iterator,
  __last_constness
};

class _Error_formatter {
public:
  struct _Parameter {
    enum _Kind {
      __unused_param,
      __iterator_param,
      __sequence_param,
      __integer_param,
      __string_param,
      __instance_param,
      __value_type_param
    };

    struct _Named {
      const char* _M_name; // the name used in the check, or null
    };
    struct _Type : _Named {
      const std::type_info* _M_type_info; // null when unknown
    };
    struct _Instance : _Type {
      const void* _M_addr;
    };
    struct _Iterator : _Instance {
      std::uint32_t _M_const_kind; // a _Constness
      std::uint32_t _M_iter_state; // an _Iterator_state
      const void* _M_sequence;     // the container, or null
      const std::type_info* _M_seq_type_info;
    };
    struct _Integer : _Named {
      std::int64_t _M_int_value;
    };
    struct _String : _Named {
      const char* _M_str_value; // may hold references itself
    };

    _Kind _M_kind = __unused_param;
    union {
      _Iterator _M_iterator;
      _Instance _M_sequence;
      _Integer _M_integer;
      _String _M_string;
      _Instance _M_instance;
      _Type _M_value_type;
    } _M_variant{};

    // Kept for older headers; they do nothing.
    void _M_print_field(const _Error_formatter* __formatter,
                        const char* __name) const;
    void _M_print_description(const _Error_formatter* __formatter) const;
  };

  static constexpr unsigned _S_max_params = 9;

  const char* _M_source_file = nullptr;
  std::uint32_t _M_source_line = 0;
  _Parameter _M_params[_S_max_params];
  std::uint32_t _M_param_count = 0;
  const char* _M_text = nullptr;
  const char* _M_function_text = nullptr;

  _Error_formatter(const char* __file, std::uint32_t __line,
                   const char* __function = nullptr) noexcept
      : _M_source_file(__file), _M_source_line(__line),
        _M_function_text(__function) {}

  // Parameters, in the order the message refers to them; past the ninth
  // they are dropped.
  _Error_formatter& _M_iterator(const void* __addr, const char* __name,
                                const std::type_info* __type,
                                _Constness __constness, _Iterator_state __state,
                                const void* __seq,
                                const std::type_info* __seq_type) noexcept {
    _Parameter __p;
    __p._M_kind = _Parameter::__iterator_param;
    __p._M_variant._M_iterator = {{{{__name}, __type}, __addr},
                                  static_cast<std::uint32_t>(__constness),
                                  static_cast<std::uint32_t>(__state),
                                  __seq,
                                  __seq_type};
    return _M_add(__p);
  }
  _Error_formatter& _M_sequence(const void* __addr, const char* __name,
                                const std::type_info* __type) noexcept {
    _Parameter __p;
    __p._M_kind = _Parameter::__sequence_param;
    __p._M_variant._M_sequence = {{{__name}, __type}, __addr};
    return _M_add(__p);
  }
  _Error_formatter& _M_instance(const void* __addr, const char* __name,
                                const std::type_info* __type) noexcept {
    _Parameter __p;
    __p._M_kind = _Parameter::__instance_param;
    __p._M_variant._M_instance = {{{__name}, __type}, __addr};
    return _M_add(__p);
  }
  _Error_formatter& _M_integer(std::int64_t __value,
                               const char* __name = nullptr) noexcept {
    _Parameter __p;
    __p._M_kind = _Parameter::__integer_param;
    __p._M_variant._M_integer = {{__name}, __value};
    return _M_add(__p);
  }
  _Error_formatter& _M_string(const char* __value,
                              const char* __name = nullptr) noexcept {
    _Parameter __p;
    __p._M_kind = _Parameter::__string_param;
    __p._M_variant._M_string = {{__name}, __value};
    return _M_add(__p);
  }
  _Error_formatter& _M_value_type(const char* __name,
                                  const std::type_info* __type) noexcept {
    _Parameter __p;
    __p._M_kind = _Parameter::__value_type_param;
    __p._M_variant._M_value_type = {{__name}, __type};
    return _M_add(__p);
  }
  _Error_formatter& _M_add(const _Parameter& __p) noexcept {
    if (_M_param_count < _S_max_params)
      _M_params[_M_param_count++] = __p;
    return *this;
  }

  // Selects message `__id` of the catalogue (0 to 52).
  _Error_formatter& _M_message(unsigned __id) noexcept;

  // Prints the report on standard error and aborts.
  [[noreturn]] void _M_error() const noexcept;

  // Kept for older headers; they do nothing.
  void _M_print_word(const char* __word) const;
  void _M_print_string(const char* __string) const;
  void _M_get_max_length() const noexcept;
  void _M_format_word(char* __buf, int __n, const char* __fmt,
                      const char* __s) const;
  void _M_format_word(char* __buf, int __n, const char* __fmt,
                      const void* __p) const;
  void _M_format_word(char* __buf, int __n, const char* __fmt,
                      long __value) const;
  void _M_format_word(char* __buf, int __n, const char* __fmt,
                      unsigned long __value) const;
};

} // namespace __zeb_debug
