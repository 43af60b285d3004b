// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <type_traits>
#include <utility>
#include <vector>

#include "kiln/CpuKernel.h"
#include "kiln/Pixel.h"

namespace Kiln {
namespace JIT {

/// One CPU instantiation of a kernel and the image signature it was compiled for: the channel
/// count of each of its images (all of one component type; a kernel has 1 to 11 images).
struct CpuVariant {
    CpuKernelCode code;
    std::array<int, 11> channels;
    int imageCount;
    Pixel::ComponentType type;
};

/// Registers every variant for every CPU target/flags combination, combination by combination
/// in the order "2_2_1", "2_2_19", variants in list order. `variants` must be static. Call it
/// from the kernel's once-guarded registration function.
void RegisterCpuVariants(const char* kernelId,
                         const std::vector<CpuVariant>& variants,
                         const char* paramTable);

/// The body of a kernel's registration function: registers the variants that MakeVariants
/// lists, for the CPU targets, the first time `once` is passed; every later call does nothing.
template <std::vector<CpuVariant> (*MakeVariants)()>
void RegisterOnce(std::once_flag& once, const char* kernelId, const char* paramTable) {
    std::call_once(once, [&] {
        static const std::vector<CpuVariant> variants = MakeVariants();
        RegisterCpuVariants(kernelId, variants, paramTable);
    });
}

template <typename T>
constexpr Pixel::ComponentType ComponentTypeOf() {
    static_assert(std::is_same_v<T, float> || std::is_same_v<T, std::uint32_t>);
    return std::is_same_v<T, float> ? Pixel::ComponentType::Float
                                    : Pixel::ComponentType::UnsignedInt;
}

namespace detail {

template <std::size_t I>
using UintOrFloat = std::conditional_t<I % 2 == 0, std::uint32_t, float>;

template <template <typename, int> class K, int Images, std::size_t... I>
std::vector<CpuVariant> sameShape(std::index_sequence<I...>) {
    return {
        CpuVariant{{&K<UintOrFloat<I>, int(I / 2) + 1>::rows, K<UintOrFloat<I>, 1>::kOutputImage},
                   {int(I / 2) + 1, int(I / 2) + 1, int(I / 2) + 1, int(I / 2) + 1},
                   Images,
                   ComponentTypeOf<UintOrFloat<I>>()}...};
}

template <template <typename, int, int> class K, std::size_t... I>
std::vector<CpuVariant> crossShape(std::index_sequence<I...>) {
    return {CpuVariant{{&K<UintOrFloat<I>, int(I / 8) + 1, int(I / 2 % 4) + 1>::rows,
                        K<UintOrFloat<I>, 1, 1>::kOutputImage},
                       {int(I / 8) + 1, int(I / 2 % 4) + 1, 0, 0},
                       2,
                       ComponentTypeOf<UintOrFloat<I>>()}...};
}

template <template <typename, int> class K, int Images, int... C>
std::vector<CpuVariant> floatShape(std::integer_sequence<int, C...>) {
    return {CpuVariant{{&K<float, C + 1>::rows, K<float, 1>::kOutputImage},
                       {C + 1, C + 1, C + 1, C + 1},
                       Images,
                       Pixel::ComponentType::Float}...};
}

}  // namespace detail

/// The signature lists of the common kernel shapes. K<T, C> (or K<T, C0, C1>) is a struct with
/// `static void rows(const CpuLaunch&, int, int)` and `static constexpr unsigned kOutputImage`.

/// Images that share channel count and type: 1ui, 1f, 2ui, 2f, 3ui, 3f, 4ui, 4f (each token
/// repeated per image).
template <template <typename, int> class K, int Images>
std::vector<CpuVariant> SameShapeVariants() {
    return detail::sameShape<K, Images>(std::make_index_sequence<8>());
}

/// Two images of one type whose channel counts vary independently: 1ui_1ui, 1f_1f, 1ui_2ui, ...
/// 4f_4f (first image's count slowest, type fastest), 32 signatures.
template <template <typename, int, int> class K>
std::vector<CpuVariant> CrossShapeVariants() {
    return detail::crossShape<K>(std::make_index_sequence<32>());
}

/// Float images sharing their channel count: 1f, 2f, 3f, 4f.
template <template <typename, int> class K, int Images>
std::vector<CpuVariant> FloatShapeVariants() {
    return detail::floatShape<K, Images>(std::make_integer_sequence<int, 4>());
}

}  // namespace JIT
}  // namespace Kiln
