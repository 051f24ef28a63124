# Verification against closed-form solutions (VERIFICATION.md): the square
# of one division against its exact equilibrium, with both material laws at
# a small and a large pressure, and the clamped circle against Hencky's
# centre deflection on three meshes. Included from tests/CMakeLists.txt;
# the circle generator comes from examples/.
add_test(NAME verification_square_n1_exact_equilibrium
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/verification_square_n1.sh
                 $<TARGET_FILE:square> $<TARGET_FILE:velora1> $<TARGET_FILE:velora2>)
add_test(NAME verification_circle_hencky
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/verification_circle.sh
                 $<TARGET_FILE:circle> $<TARGET_FILE:velora1> $<TARGET_FILE:velora2>)
