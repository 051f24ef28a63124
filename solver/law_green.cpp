// Material law of velora1: Green strain of the element sides.
