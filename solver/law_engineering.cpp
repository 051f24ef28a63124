// Material law of velora2: engineering strain of the element sides.
